#pragma once
// The build's version record: printed at start, in the status dump, by --version and in the
// syslog identity of daemon mode.
#include <iosfwd>

struct Version {
  enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  Type type;
  int number;
  char const* first;
  char const* builder;
  char const* build_time;
  char const* tag;
  char const* arch;

  // Writes the version text: the build tag only.
  void put(std::ostream& os) const;
  void update() {}

  static const Version current;
  static char const* version_string(int type);
  static char const* version_suffix(int type);
};

std::ostream& operator<<(std::ostream& os, Version::Type t);
