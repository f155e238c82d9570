#pragma once

#include <string>

/// The detached signature of a release's file list: Ed25519 over the exact
/// bytes of the document, both the signature and the public key in base64.
namespace FirmaLista {

/// Name of the signature beside the file list in the release folder.
constexpr const char* nombreFirma = "XmlInstalacion.xml.sig";

/// Readies libsodium (sodium_init, once per process). False when it cannot
/// be used; then nothing verifies.
bool iniciarSodium();

/// True when `firma` (base64; blanks and line ends around it are allowed)
/// is the signature of `datos` by the holder of `clave` (base64 of a 32-byte
/// Ed25519 public key). Anything malformed is simply not a valid signature.
bool verificar(const std::string& datos, const std::string& firma, const std::string& clave);

/// Reads `lista` and `firma` (paths) whole and verifies as above; on success
/// `contenido` holds the exact bytes that were verified.
bool leerVerificada(const std::string& lista, const std::string& firma, const std::string& clave,
                    std::string& contenido);

} // namespace FirmaLista
