#include "sim/exchange.h"

#include <cstdio>

namespace sim {
namespace {

std::string ReplyHex(const std::vector<Chunk>& chunks) {
  std::string text;
  for (const Chunk& chunk : chunks) {
    if (!text.empty()) text += " | ";
    text += HexBytes(chunk.bytes);
  }
  return text;
}

std::string Notes(const Exchange& exchange) {
  std::string notes;
  for (Fault fault : exchange.faults) {
    notes += notes.empty() ? "" : ", ";
    notes += FaultName(fault);
  }
  if (exchange.outcome != Exchange::Outcome::kAnswered &&
      exchange.outcome != Exchange::Outcome::kDropped && notes.empty()) {
    notes = OutcomeName(exchange.outcome);
  }
  return notes.empty() ? "" : "  (" + notes + ")";
}

}  // namespace

const char* OutcomeName(Exchange::Outcome outcome) {
  switch (outcome) {
    case Exchange::Outcome::kAnswered: return "answered";
    case Exchange::Outcome::kDropped: return "dropped";
    case Exchange::Outcome::kSilent: return "silent";
    case Exchange::Outcome::kOtherAddress: return "other address";
    case Exchange::Outcome::kBadChecksum: return "bad checksum";
    case Exchange::Outcome::kUnknownCommand: return "unknown command";
  }
  return "?";
}

std::string HexBytes(const Bytes& bytes) {
  std::string text;
  char byte[4];
  for (uint8_t b : bytes) {
    std::snprintf(byte, sizeof byte, "%02X", b);
    if (!text.empty()) text += ' ';
    text += byte;
  }
  return text;
}

std::string FormatExchange(const Exchange& exchange) {
  std::string text = "> " + HexBytes(exchange.request) + "\n";
  const std::string reply = exchange.reply.empty() ? "-" : ReplyHex(exchange.reply);
  return text + "< " + reply + Notes(exchange) + "\n";
}

}  // namespace sim
