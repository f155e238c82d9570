// Signs release file lists for the launcher: Ed25519 (libsodium), keys and
// signatures as standard base64 text.
//
//   tarsenvik-sign keygen SECRETFILE        new key pair; the secret key goes to
//                                           SECRETFILE (created, mode 0600), the
//                                           public key to standard output
//   tarsenvik-sign public SECRETFILE        the public key of a secret key file
//   tarsenvik-sign sign SECRETFILE FILE     the detached signature of FILE's bytes
//   tarsenvik-sign verify PUBFILE FILE SIG  exit 0 when SIG (a file) signs FILE
//                                           for the key in PUBFILE
#include <sodium.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* programa = "tarsenvik-sign";

int uso()
{
    std::cerr << "usage: " << programa << " keygen SECRETFILE\n"
              << "       " << programa << " public SECRETFILE\n"
              << "       " << programa << " sign SECRETFILE FILE\n"
              << "       " << programa << " verify PUBFILE FILE SIGFILE\n";
    return 2;
}

int fallo(const std::string& mensaje)
{
    std::cerr << programa << ": " << mensaje << std::endl;
    return 1;
}

bool leerTodo(const std::string& ruta, std::string& contenido)
{
    std::ifstream entrada(ruta, std::ios_base::in | std::ios_base::binary);
    if (!entrada)
        return false;
    std::ostringstream copia;
    copia << entrada.rdbuf();
    if (entrada.bad())
        return false;
    contenido = copia.str();
    return true;
}

std::string base64(const unsigned char* datos, size_t largo)
{
    std::vector<char> texto(sodium_base64_ENCODED_LEN(largo, sodium_base64_VARIANT_ORIGINAL));
    sodium_bin2base64(texto.data(), texto.size(), datos, largo, sodium_base64_VARIANT_ORIGINAL);
    return std::string(texto.data());
}

// The whole text, blanks aside, must decode to exactly `largo` bytes.
bool desdeBase64(const std::string& texto, unsigned char* destino, size_t largo)
{
    size_t leidos = 0;
    const char* fin = nullptr;
    return sodium_base642bin(destino, largo, texto.data(), texto.size(), " \t\r\n", &leidos, &fin,
                             sodium_base64_VARIANT_ORIGINAL)
               == 0
           && leidos == largo && fin == texto.data() + texto.size();
}

// Reads a secret key file; warns when others may read it.
bool leerSecreta(const std::string& ruta, unsigned char secreta[crypto_sign_SECRETKEYBYTES])
{
    struct stat estado {};
    if (stat(ruta.c_str(), &estado) == 0 && (estado.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        std::cerr << programa << ": warning: " << ruta
                  << " can be read by others; it should be mode 0600" << std::endl;
    std::string texto;
    if (!leerTodo(ruta, texto)) {
        fallo("cannot read the secret key file " + ruta);
        return false;
    }
    const bool valida = desdeBase64(texto, secreta, crypto_sign_SECRETKEYBYTES);
    sodium_memzero(&texto[0], texto.size());
    if (!valida)
        fallo(ruta + " is not a secret key file of " + programa);
    return valida;
}

int generar(const std::string& ruta)
{
    unsigned char publica[crypto_sign_PUBLICKEYBYTES];
    unsigned char secreta[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publica, secreta);
    std::string texto = base64(secreta, sizeof secreta) + "\n";
    sodium_memzero(secreta, sizeof secreta);

    // Never over an existing key: a lost secret key cannot be made again.
    const int fd = open(ruta.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        sodium_memzero(&texto[0], texto.size());
        return fallo("cannot create " + ruta + ": " + std::strerror(errno));
    }
    // The umask may only take bits away; make sure of the rest.
    bool escrito = fchmod(fd, 0600) == 0;
    for (size_t hecho = 0; escrito && hecho < texto.size();) {
        const ssize_t n = write(fd, texto.data() + hecho, texto.size() - hecho);
        if (n < 0 && errno == EINTR)
            continue;
        escrito = n > 0;
        hecho += escrito ? static_cast<size_t>(n) : 0;
    }
    escrito = escrito && fsync(fd) == 0;
    escrito = close(fd) == 0 && escrito;
    sodium_memzero(&texto[0], texto.size());
    if (!escrito) {
        unlink(ruta.c_str());
        return fallo("cannot write " + ruta);
    }
    std::cout << base64(publica, sizeof publica) << std::endl;
    return 0;
}

int publica(const std::string& ruta)
{
    unsigned char secreta[crypto_sign_SECRETKEYBYTES];
    if (!leerSecreta(ruta, secreta))
        return 1;
    unsigned char clave[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(clave, secreta);
    sodium_memzero(secreta, sizeof secreta);
    std::cout << base64(clave, sizeof clave) << std::endl;
    return 0;
}

int firmar(const std::string& rutaSecreta, const std::string& fichero)
{
    std::string datos;
    if (!leerTodo(fichero, datos))
        return fallo("cannot read " + fichero);
    unsigned char secreta[crypto_sign_SECRETKEYBYTES];
    if (!leerSecreta(rutaSecreta, secreta))
        return 1;
    unsigned char firma[crypto_sign_BYTES];
    crypto_sign_detached(firma, nullptr, reinterpret_cast<const unsigned char*>(datos.data()),
                         datos.size(), secreta);
    sodium_memzero(secreta, sizeof secreta);
    std::cout << base64(firma, sizeof firma) << std::endl;
    return std::cout ? 0 : fallo("cannot write the signature");
}

int verificar(const std::string& rutaPublica, const std::string& fichero,
              const std::string& rutaFirma)
{
    std::string textoClave, datos, textoFirma;
    if (!leerTodo(rutaPublica, textoClave) || !leerTodo(fichero, datos)
        || !leerTodo(rutaFirma, textoFirma))
        return fallo("cannot read " + rutaPublica + ", " + fichero + " or " + rutaFirma);
    unsigned char clave[crypto_sign_PUBLICKEYBYTES];
    unsigned char firma[crypto_sign_BYTES];
    if (!desdeBase64(textoClave, clave, sizeof clave))
        return fallo(rutaPublica + " is not a public key");
    if (!desdeBase64(textoFirma, firma, sizeof firma)
        || crypto_sign_verify_detached(firma, reinterpret_cast<const unsigned char*>(datos.data()),
                                       datos.size(), clave)
               != 0)
        return fallo("the signature " + rutaFirma + " does not sign " + fichero);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (sodium_init() < 0)
        return fallo("libsodium cannot be initialised");
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "keygen")
        return generar(args[1]);
    if (args.size() == 2 && args[0] == "public")
        return publica(args[1]);
    if (args.size() == 3 && args[0] == "sign")
        return firmar(args[1], args[2]);
    if (args.size() == 4 && args[0] == "verify")
        return verificar(args[1], args[2], args[3]);
    return uso();
}
