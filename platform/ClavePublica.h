#pragma once

/// The release signing key the launcher was linked with.
namespace ClavePublica {

/// Ed25519 public key in base64 that release file lists must be signed
/// with; an empty text when the launcher takes unsigned lists.
const char* base64();

} // namespace ClavePublica
