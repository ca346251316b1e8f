#pragma once
// A stream buffer that writes every line into a file of the current local hour inside one
// directory ("<dir>/YYYY_mm_dd-HH.log"), each line prefixed with "MM:SS:uuuuu: ". The daemon
// puts it under std::cout, std::cerr and std::clog when told to log to files.
#include <fstream>
#include <streambuf>
#include <string>

class LogFileStreamBuf : public std::basic_streambuf<char> {
 public:
  explicit LogFileStreamBuf(const std::string& directory);
  ~LogFileStreamBuf() override;
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;

  // Opens the file of the current hour (appending to it when it exists).
  void NewFile();
  // The path of the file in use ("" when none could be built).
  const std::string& path() const { return path_; }

 protected:
  // Takes ownership of the given put area (size 2 or more).
  std::basic_streambuf<char>* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int_type overflow(int_type c) override;

 private:
  // Closes the current file and opens the one named after the local time t.
  void open_for(const struct tm& t);

  std::basic_filebuf<char>* file_;
  std::string directory_;
  int hour_ = -1;   // local hour of the open file
  int day_ = -1;    // and its local day (year * 1000 + day of year), so a day later is new
  bool mid_line_ = false;  // the file's last byte was not a line feed
  char* put_area_ = nullptr;
  std::string path_;
};
