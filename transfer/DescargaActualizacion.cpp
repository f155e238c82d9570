#include "transfer/DescargaActualizacion.h"

#include "release/FirmaLista.h"
#include "ui/DialogoActulizacion.h"
#include "ui/UtilesLauncher.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <utility>

namespace {

// Progress state of the one transfer that runs at a time.
DialogoActulizacion* avanceDescarga = nullptr;
time_t comienzo = 0;
time_t final = 0;
double fraccionDesc1 = 0;
double fraccionDesc2 = 0;
long limiteInactividad = DescargaActualizacion::inactividadPorDefecto;
bool cancelada = false;

struct LiberarCurl {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct CerrarFichero {
    void operator()(FILE* fichero) const { std::fclose(fichero); }
};
using Curl = std::unique_ptr<CURL, LiberarCurl>;
using Fichero = std::unique_ptr<FILE, CerrarFichero>;

// Inactivity watch of the running release file transfer: when the amount
// received last changed. The transfer library's own low-speed check averages
// over several seconds, so a transfer that stalls after a burst would run on
// well past the limit.
std::chrono::steady_clock::time_point ultimoDato;
curl_off_t ultimoRecibido = 0;

// When the window was last refreshed: a fast transfer calls the progress
// function thousands of times a second, and one refresh costs far more than
// the bytes of one call.
std::chrono::steady_clock::time_point ultimoRefresco;

// Where the write callback puts a transfer's bytes, and what it checks on the
// way: the count against the declared size, and the running hash.
struct Destino {
    FILE* fichero = nullptr;
    curl_off_t recibidos = 0;
    curl_off_t limite = -1;  // negative: no size declared
    bool excedido = false;
    // SHA-256 by OpenSSL, which uses the processor's SHA instructions: over
    // five times libsodium's speed here, where the hash bounds the download.
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash{nullptr, EVP_MD_CTX_free};
};

std::size_t escribirDestino(void* datos, std::size_t tamano, std::size_t cantidad, void* contexto)
{
    Destino& destino = *static_cast<Destino*>(contexto);
    const std::size_t bytes = tamano * cantidad;
    // Not a byte past the declared size reaches the disk: answering short
    // makes the transfer library abandon the transfer here and now.
    if (destino.limite >= 0 && static_cast<curl_off_t>(bytes) > destino.limite - destino.recibidos) {
        destino.excedido = true;
        return 0;
    }
    const std::size_t escritos = writeFunction(datos, 1, bytes, destino.fichero);
    if (escritos != bytes)
        return 0;
    destino.recibidos += static_cast<curl_off_t>(bytes);
    if (destino.hash && EVP_DigestUpdate(destino.hash.get(), datos, bytes) != 1)
        return 0;
    return escritos;
}

int progresoTransferencia(void* contexto, curl_off_t totalDescarga, curl_off_t descargado,
                          curl_off_t totalSubida, curl_off_t subido)
{
    if (cancelada)
        return 1;  // abandons the transfer
    // Called at least once a second, data or not.
    const auto ahora = std::chrono::steady_clock::now();
    if (descargado != ultimoRecibido) {
        ultimoRecibido = descargado;
        ultimoDato = ahora;
    } else if (limiteInactividad > 0
               && ahora - ultimoDato >= std::chrono::seconds(limiteInactividad)) {
        return 1;  // abandons the transfer
    }
    // Without a length from the server, the declared size is the total.
    const Destino* destino = static_cast<const Destino*>(contexto);
    if (totalDescarga <= 0 && destino != nullptr && destino->limite > 0)
        totalDescarga = destino->limite;
    return progress_callback(contexto, static_cast<double>(totalDescarga),
                             static_cast<double>(descargado), static_cast<double>(totalSubida),
                             static_cast<double>(subido));
}

// Options common to both transfers. Certificates are verified: the release's
// files become programs on the user's machine.
void opcionesComunes(CURL* curl, const std::string& url, void* conexiones)
{
    if (conexiones != nullptr)
        curl_easy_setopt(curl, CURLOPT_SHARE, conexiones);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // The release table names the server; it must not make us read local files.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl ignores SSL_CERT_FILE by itself; users behind an inspecting
    // proxy rely on it to name their CA bundle.
    const char* certificados = std::getenv("SSL_CERT_FILE");
    if (certificados != nullptr && *certificados != '\0')
        curl_easy_setopt(curl, CURLOPT_CAINFO, certificados);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
}

} // namespace

DescargaActualizacion::DescargaActualizacion()
    : conexiones(curl_share_init())
{
    avanceDescarga = nullptr;
    FirmaLista::iniciarSodium();
    // Without the share every file would open a connection of its own.
    if (conexiones != nullptr)
        curl_share_setopt(conexiones, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
}

DescargaActualizacion::~DescargaActualizacion()
{
    if (conexiones != nullptr)
        curl_share_cleanup(conexiones);
}

void DescargaActualizacion::setDialogoProgreso(DialogoActulizacion& dialogo)
{
    avanceDescarga = &dialogo;
}

void DescargaActualizacion::setLimiteInactividad(long segundos)
{
    limiteInactividad = segundos;
}

void DescargaActualizacion::setCancelada(bool valor)
{
    cancelada = valor;
}

bool DescargaActualizacion::descargaDatos(std::string url, std::string ruta)
{
    return descargaDatos(std::move(url), std::move(ruta), Esperado());
}

bool DescargaActualizacion::descargaDatos(std::string url, std::string ruta,
                                          const Esperado& esperado)
{
    if (cancelada)
        return false;
    unsigned char hashEsperado[32];
    const bool conHash = !esperado.sha256.empty();
    if (conHash) {
        size_t largo = 0;
        const char* fin = nullptr;
        if (!FirmaLista::iniciarSodium()
            || sodium_hex2bin(hashEsperado, sizeof hashEsperado, esperado.sha256.data(),
                              esperado.sha256.size(), nullptr, &largo, &fin)
                   != 0
            || largo != sizeof hashEsperado || fin != esperado.sha256.data() + esperado.sha256.size())
            return false;
    }

    const Curl curl(curl_easy_init());
    if (!curl)
        return false;
    opcionesComunes(curl.get(), url, conexiones);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, escribirDestino);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    // A stalled server must not keep the user from the application for ever:
    // the progress function abandons a transfer that receives nothing for
    // limiteInactividad seconds, from the connection on.
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, limiteInactividad);

    const Fichero salida(std::fopen(ruta.c_str(), "wb"));
    if (!salida)
        return false;

    Destino destino;
    destino.fichero = salida.get();
    destino.limite = esperado.bytes;
    if (conHash) {
        destino.hash.reset(EVP_MD_CTX_new());
        if (!destino.hash || EVP_DigestInit_ex(destino.hash.get(), EVP_sha256(), nullptr) != 1)
            return false;
    }

    comienzo = time(nullptr);
    fraccionDesc1 = 0;
    ultimoDato = std::chrono::steady_clock::now();
    ultimoRecibido = 0;
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, progresoTransferencia);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &destino);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &destino);
    const CURLcode resultado = curl_easy_perform(curl.get());
    if (destino.excedido) {
        std::cerr << "Refused " << url << ": more than the declared " << esperado.bytes
                  << " bytes" << std::endl;
        return false;
    }
    // What the stream still buffers must reach the disk: the hash speaks of
    // the bytes received, not of the file.
    if (resultado != CURLE_OK || std::fflush(salida.get()) != 0)
        return false;
    if (esperado.bytes >= 0 && destino.recibidos != esperado.bytes) {
        std::cerr << "Refused " << url << ": " << destino.recibidos << " bytes, not the declared "
                  << esperado.bytes << std::endl;
        return false;
    }
    if (conHash) {
        unsigned char hash[EVP_MAX_MD_SIZE];
        unsigned int largo = 0;
        if (EVP_DigestFinal_ex(destino.hash.get(), hash, &largo) != 1 || largo != sizeof hashEsperado
            || sodium_memcmp(hash, hashEsperado, sizeof hashEsperado) != 0) {
            std::cerr << "Refused " << url << ": its SHA-256 is not the declared one" << std::endl;
            return false;
        }
    }
    return true;
}

bool DescargaActualizacion::descargaFicheroXml(std::string urlBase, std::string nombre)
{
    const std::string url = urlBase + "/" + nombre;
    std::cout << url << std::endl;
    const Curl curl(curl_easy_init());
    if (!curl)
        return false;
    opcionesComunes(curl.get(), url, conexiones);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, limiteXmlMs);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, escribirDestino);

    const Fichero salida(std::fopen(UtilesLauncher::direccionConfig(nombre).c_str(), "wb"));
    if (!salida)
        return false;
    Destino destino;
    destino.fichero = salida.get();
    destino.limite = limiteXmlBytes;
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &destino);
    return curl_easy_perform(curl.get()) == CURLE_OK && std::fflush(salida.get()) == 0;
}

std::size_t writeFunction(void* datos, std::size_t tamano, std::size_t cantidad, void* salida)
{
    return std::fwrite(datos, tamano, cantidad, static_cast<FILE*>(salida)) * tamano;
}

int progress_callback(void*, double totalDescarga, double descargado, double, double)
{
    if (avanceDescarga == nullptr)
        return 0;
    if (comienzo != 0 && descargado != 0) {
        final = time(nullptr);
        fraccionDesc2 = descargado;
        const double transcurrido = difftime(final, comienzo);
        if (transcurrido >= 0.2) {
            avanceDescarga->actualizaVelocidad((fraccionDesc2 - fraccionDesc1) / 1024
                                               / transcurrido);
            comienzo = time(nullptr);
            fraccionDesc1 = descargado;
            avanceDescarga->actualizaInfoDescarga(descargado / 1024, totalDescarga / 1024);
        }
    }
    // Events run at most every refrescoMs; the last fraction of a file is
    // always set, and drawn at the next refresh.
    const auto ahora = std::chrono::steady_clock::now();
    const bool completo = totalDescarga > 0 && descargado >= totalDescarga;
    const bool refrescar =
        ahora - ultimoRefresco >= std::chrono::milliseconds(DescargaActualizacion::refrescoMs);
    if (refrescar) {
        ultimoRefresco = ahora;
        UtilesLauncher::actualizarInterfaz();
    }
    if ((refrescar || completo) && totalDescarga > 0 && descargado <= totalDescarga)
        avanceDescarga->actualizaEstado(descargado / totalDescarga);
    return 0;
}
