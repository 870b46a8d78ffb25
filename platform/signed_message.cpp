// The names of the digest algorithms, alike on both platforms.
#include "platform/signed_message.h"

namespace platform {

const char* HashName(HashKind kind) {
  switch (kind) {
    case HashKind::Sha1: return "SHA-1";
    case HashKind::Sha256: return "SHA-256";
    case HashKind::Sha384: return "SHA-384";
    case HashKind::Sha512: return "SHA-512";
  }
  return "?";
}

}  // namespace platform
