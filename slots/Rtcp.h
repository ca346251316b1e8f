#pragma once
// The RTCP packets an RTP slot sends itself (RFC 3550 layout): one source description when
// its session starts and one goodbye when it ends.
#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

// One RTCP packet: the common header is written here, the body by the packet type.
class Msg {
 public:
  explicit Msg(uint32_t ssrc) : ssrc(ssrc) {}
  virtual ~Msg() = default;
  virtual unsigned pt() const = 0;
  // The header's 5-bit count field.
  virtual unsigned count() const = 0;
  // Writes the body that follows the 4-byte header into buf (size bytes of room); returns its
  // length, a multiple of 4, or 0 when nothing fits.
  virtual unsigned encode_body(char* buf, unsigned size) const = 0;

  // Writes the whole packet; returns its length in bytes, 0 when size is below 8.
  unsigned encode(char* buf, unsigned size) const;

  uint32_t ssrc;
};

// Source description of one source: its items in order.
class SDES : public Msg {
 public:
  struct Item {
    enum Type : uint8_t { END = 0, CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7 };
    Type type;
    std::string text;  // at most 255 bytes are sent
  };

  using Msg::Msg;
  unsigned pt() const override { return 202; }
  unsigned count() const override { return 1; }
  unsigned encode_body(char* buf, unsigned size) const override;

  std::vector<Item> items;
};

// Goodbye of one source, with its reason.
class BYE : public Msg {
 public:
  BYE(uint32_t ssrc, std::string reason) : Msg(ssrc), reason(std::move(reason)) {}
  unsigned pt() const override { return 203; }
  unsigned count() const override { return 1; }
  unsigned encode_body(char* buf, unsigned size) const override;

  std::string reason;  // at most 255 bytes are sent
};

}  // namespace RTPC
