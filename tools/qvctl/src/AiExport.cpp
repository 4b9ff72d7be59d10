#include "qvctl/AiExport.h"

#include <openssl/evp.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "qvctl/Frame.h"

namespace qvctl {

namespace {

nlohmann::json parseReply(const std::string& reply) {
  auto parsed = nlohmann::json::parse(reply, nullptr, false);
  if (parsed.is_discarded()) throw Error("the reply is not JSON");
  return parsed;
}

// The reason of an [{"exceptionmsg": ...}] reply.
std::optional<std::string> exceptionMessage(const nlohmann::json& reply) {
  if (!reply.is_array() || reply.size() != 1 || !reply[0].is_object()) return std::nullopt;
  auto it = reply[0].find("exceptionmsg");
  if (it == reply[0].end()) return std::nullopt;
  return it->is_string() ? it->get<std::string>() : it->dump();
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
  std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> context(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
  if (!context) return std::nullopt;
  EVP_DecodeInit(context.get());
  std::string out;
  // The decoder stops at padding; it is fed in pieces because it counts in int.
  constexpr std::size_t kPiece = 1 << 20;
  std::string buffer(kPiece / 4 * 3 + 64, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    std::string_view piece = text.substr(at, kPiece);
    int written = 0;
    if (EVP_DecodeUpdate(context.get(), bytes, &written, reinterpret_cast<const unsigned char*>(piece.data()),
                         static_cast<int>(piece.size())) < 0) {
      return std::nullopt;
    }
    out.append(buffer.data(), static_cast<std::size_t>(written));
  }
  int written = 0;
  if (EVP_DecodeFinal(context.get(), bytes, &written) < 0) return std::nullopt;
  out.append(buffer.data(), static_cast<std::size_t>(written));
  return out;
}

std::string encodeBase64(std::string_view bytes) {
  std::string out;
  // EVP_EncodeBlock counts in int: the bytes go in pieces of whole 3-byte groups.
  constexpr std::size_t kPiece = 3 << 20;
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    std::string_view piece = bytes.substr(at, kPiece);
    std::string encoded((piece.size() + 2) / 3 * 4 + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                  reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
    out.append(encoded.data(), static_cast<std::size_t>(written));
  }
  return out;
}

std::string withoutImages(const std::string& reply) {
  auto list = parseReply(reply);
  if (list.is_array()) {
    for (auto& entry : list) {
      if (entry.is_object()) entry.erase("imageBase64");
    }
  }
  return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string snapshotJPEG(const std::string& reply) {
  auto list = parseReply(reply);
  if (auto reason = exceptionMessage(list)) throw Error("the agent answered: " + *reason);
  if (!list.is_array() || list.size() != 1 || !list[0].is_object() || !list[0].contains("output") ||
      !list[0]["output"].is_string()) {
    throw Error("the reply holds no snapshot: " + reply.substr(0, 200));
  }
  auto jpeg = decodeBase64(list[0]["output"].get<std::string>());
  // Every JPEG starts with the start-of-image marker.
  if (!jpeg || !jpeg->starts_with("\xFF\xD8\xFF")) throw Error("the snapshot is not a Base64 JPEG image");
  return *jpeg;
}

}  // namespace qvctl
