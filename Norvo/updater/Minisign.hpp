#pragma once
#include <string>
#include <string_view>

namespace norvo::Minisign {

// Checks a minisign signature file (prehashed "ED" algorithm) over `message` against a
// public key given as the base64 line of a minisign.pub: the key id, the signature over
// BLAKE2b-512 of the message, and the global signature over the trusted comment.
bool verify(std::string_view message, std::string_view signatureFile, std::string_view publicKeyBase64);

}  // namespace norvo::Minisign
