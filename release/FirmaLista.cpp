#include "release/FirmaLista.h"

#include <sodium.h>

#include <fstream>
#include <sstream>

namespace {

// Decodes the whole of `texto` (standard base64 with padding, blanks
// ignored) into exactly `tamano` bytes.
bool decodificar(const std::string& texto, unsigned char* destino, size_t tamano)
{
    size_t largo = 0;
    const char* fin = nullptr;
    if (sodium_base642bin(destino, tamano, texto.data(), texto.size(), " \t\r\n", &largo, &fin,
                          sodium_base64_VARIANT_ORIGINAL)
        != 0)
        return false;
    // Trailing text after the padding would be something else than a key or a signature.
    return largo == tamano && fin == texto.data() + texto.size();
}

bool leerTodo(const std::string& ruta, std::string& contenido)
{
    std::ifstream entrada(ruta, std::ios_base::in | std::ios_base::binary);
    if (!entrada)
        return false;
    std::ostringstream copia;
    if (entrada.peek() != std::ifstream::traits_type::eof())
        copia << entrada.rdbuf();
    if (entrada.bad() || !copia)
        return false;
    contenido = copia.str();
    return true;
}

} // namespace

bool FirmaLista::iniciarSodium()
{
    // sodium_init may be called again, but once is enough: the answer stays.
    static const bool lista = sodium_init() >= 0;
    return lista;
}

bool FirmaLista::verificar(const std::string& datos, const std::string& firma,
                           const std::string& clave)
{
    if (!iniciarSodium())
        return false;
    unsigned char publica[crypto_sign_PUBLICKEYBYTES];
    unsigned char firmaBinaria[crypto_sign_BYTES];
    if (!decodificar(clave, publica, sizeof publica)
        || !decodificar(firma, firmaBinaria, sizeof firmaBinaria))
        return false;
    return crypto_sign_verify_detached(firmaBinaria,
                                       reinterpret_cast<const unsigned char*>(datos.data()),
                                       datos.size(), publica)
           == 0;
}

bool FirmaLista::leerVerificada(const std::string& lista, const std::string& firma,
                                const std::string& clave, std::string& contenido)
{
    std::string datos;
    std::string textoFirma;
    // A signature is some ninety bytes: a larger file is none.
    if (!leerTodo(lista, datos) || !leerTodo(firma, textoFirma) || textoFirma.size() > 4096)
        return false;
    if (!verificar(datos, textoFirma, clave))
        return false;
    contenido.swap(datos);
    return true;
}
