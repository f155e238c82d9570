#include "support/ServidorDefectuoso.h"

#include <httplib.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

namespace {

// A stall that nobody ends still ends: the test has failed long before.
constexpr std::chrono::seconds estancamientoMaximo{60};
// How long the destructor waits for the server's threads.
constexpr std::chrono::seconds esperaParada{10};

bool esTipo(const std::string& cabecera)
{
    const std::string tipo = "content-type";
    return cabecera.size() == tipo.size()
           && std::equal(cabecera.begin(), cabecera.end(), tipo.begin(),
                         [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

} // namespace

struct ServidorDefectuoso::Estado {
    std::unique_ptr<httplib::Server> servidor;
    std::mutex cerrojo;
    std::condition_variable aviso;
    bool parando = false;
    std::map<std::string, Respuesta> respuestas;
    std::vector<std::string> pedidas;

    // Sleeps unless the server stops first; false when it stops.
    bool pausar(std::chrono::milliseconds pausa)
    {
        std::unique_lock<std::mutex> bloqueo(cerrojo);
        return !aviso.wait_for(bloqueo, pausa, [this] { return parando; });
    }

    void estancar()
    {
        std::unique_lock<std::mutex> bloqueo(cerrojo);
        aviso.wait_for(bloqueo, estancamientoMaximo, [this] { return parando; });
    }

    // False when the client has gone or the server stops.
    bool enviarCuerpo(const Respuesta& r, httplib::DataSink& destino)
    {
        const std::size_t trozo = r.trozo > 0 ? r.trozo : std::max<std::size_t>(1, r.cuerpo.size());
        for (std::size_t pos = 0; pos < r.cuerpo.size(); pos += trozo) {
            if (pos > 0 && r.pausa.count() > 0 && !pausar(r.pausa))
                return false;
            if (!destino.write(r.cuerpo.data() + pos, std::min(trozo, r.cuerpo.size() - pos)))
                return false;
        }
        return true;
    }

    // After the body of an answer without length: the provider's result.
    bool terminarSinLongitud(const Respuesta& r, httplib::DataSink& destino)
    {
        switch (r.final) {
        case Final::Completo:
            destino.done();
            return true;
        case Final::Estancar:
            estancar();
            return false;
        case Final::Corte:
            break;
        }
        return false;
    }

    void atender(const httplib::Request& peticion, httplib::Response& respuesta)
    {
        Respuesta r;
        {
            std::lock_guard<std::mutex> bloqueo(cerrojo);
            pedidas.push_back(peticion.path);
            const auto encontrada = respuestas.find(peticion.path);
            if (encontrada == respuestas.end()) {
                respuesta.status = 404;
                respuesta.set_content("not found\n", "text/plain");
                return;
            }
            r = encontrada->second;
        }
        if (r.sinRespuesta) {
            estancar();
            respuesta.status = 503;
            return;
        }

        respuesta.status = r.estado;
        std::string tipo = "application/octet-stream";
        for (const auto& cabecera : r.cabeceras) {
            if (esTipo(cabecera.first))
                tipo = cabecera.second;
            else
                respuesta.set_header(cabecera.first, cabecera.second);
        }

        const auto compartida = std::make_shared<Respuesta>(r);
        switch (r.longitud) {
        case Longitud::Anunciada: {
            const std::size_t longitud = r.anunciada < 0 ? r.cuerpo.size()
                                                         : static_cast<std::size_t>(r.anunciada);
            if (longitud == r.cuerpo.size() && r.trozo == 0 && r.final == Final::Completo) {
                respuesta.set_content(r.cuerpo, tipo.c_str());
                return;
            }
            // The whole body goes out in the first call, even beyond the
            // announced length; what follows depends on the fault.
            respuesta.set_content_provider(
                longitud, tipo,
                [this, compartida, longitud](std::size_t desde, std::size_t,
                                             httplib::DataSink& destino) {
                    if (desde != 0 || !enviarCuerpo(*compartida, destino))
                        return false;
                    if (compartida->cuerpo.size() >= longitud)
                        return true;
                    if (compartida->final == Final::Estancar)
                        estancar();
                    return false;
                });
            return;
        }
        case Longitud::Troceada:
            respuesta.set_chunked_content_provider(
                tipo, [this, compartida](std::size_t, httplib::DataSink& destino) {
                    return enviarCuerpo(*compartida, destino)
                           && terminarSinLongitud(*compartida, destino);
                });
            return;
        case Longitud::HastaCierre:
            respuesta.set_content_provider(
                tipo, [this, compartida](std::size_t, httplib::DataSink& destino) {
                    return enviarCuerpo(*compartida, destino)
                           && terminarSinLongitud(*compartida, destino);
                });
            return;
        }
    }
};

ServidorDefectuoso::ServidorDefectuoso()
{
    arrancar(false, std::string(), std::string());
}

ServidorDefectuoso::ServidorDefectuoso(const std::string& certificado, const std::string& clave)
{
    arrancar(true, certificado, clave);
}

void ServidorDefectuoso::arrancar(bool conTls, const std::string& certificado,
                                  const std::string& clave)
{
    // Writing to a client that has gone must fail the write, not end the tests.
    std::signal(SIGPIPE, SIG_IGN);

    https = conTls;
    estado = std::make_shared<Estado>();
    if (conTls)
        estado->servidor.reset(new httplib::SSLServer(certificado.c_str(), clave.c_str()));
    else
        estado->servidor.reset(new httplib::Server());
    httplib::Server& servidor = *estado->servidor;
    if (!servidor.is_valid())
        return;
    // Short waits, so that stopping never waits long for an idle connection.
    servidor.set_keep_alive_timeout(1);
    servidor.set_read_timeout(2, 0);
    servidor.set_write_timeout(2, 0);
    Estado* compartido = estado.get();
    servidor.Get(".*", [compartido](const httplib::Request& peticion,
                                     httplib::Response& respuesta) {
        compartido->atender(peticion, respuesta);
    });

    numeroPuerto = servidor.bind_to_any_port("127.0.0.1");
    if (numeroPuerto <= 0)
        return;
    std::promise<void> terminado;
    fin = terminado.get_future();
    hilo = std::thread([propio = estado, terminado = std::move(terminado)]() mutable {
        propio->servidor->listen_after_bind();
        terminado.set_value();
    });
    // stop() only acts on a running server: wait until it runs.
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!servidor.is_running() && std::chrono::steady_clock::now() < limite)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

ServidorDefectuoso::~ServidorDefectuoso()
{
    {
        std::lock_guard<std::mutex> bloqueo(estado->cerrojo);
        estado->parando = true;
    }
    estado->aviso.notify_all();
    if (!hilo.joinable())
        return;
    estado->servidor->stop();
    if (fin.wait_for(esperaParada) == std::future_status::ready)
        hilo.join();
    else
        hilo.detach();  // it holds the shared state; better a leak than a hang
}

void ServidorDefectuoso::responder(const std::string& ruta, const Respuesta& respuesta)
{
    std::lock_guard<std::mutex> bloqueo(estado->cerrojo);
    estado->respuestas[ruta] = respuesta;
}

std::string ServidorDefectuoso::url() const
{
    return std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(numeroPuerto);
}

std::vector<std::string> ServidorDefectuoso::rutasPedidas() const
{
    std::lock_guard<std::mutex> bloqueo(estado->cerrojo);
    return estado->pedidas;
}

namespace {

bool anadirExtension(X509* certificado, int nid, const char* valor)
{
    X509V3_CTX contexto;
    X509V3_set_ctx_nodb(&contexto);
    X509V3_set_ctx(&contexto, certificado, certificado, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &contexto, nid, valor);
    if (extension == nullptr)
        return false;
    const bool anadida = X509_add_ext(certificado, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return anadida;
}

bool escribirPem(const std::string& ruta, const std::function<bool(FILE*)>& escribir)
{
    FILE* fichero = std::fopen(ruta.c_str(), "wb");
    if (fichero == nullptr)
        return false;
    const bool escrito = escribir(fichero);
    return std::fclose(fichero) == 0 && escrito;
}

} // namespace

bool ServidorDefectuoso::crearCertificado(const std::string& rutaCertificado,
                                         const std::string& rutaClave)
{
    EVP_PKEY* clave = EVP_EC_gen("P-256");
    X509* certificado = X509_new();
    bool correcto = clave != nullptr && certificado != nullptr;
    if (correcto) {
        unsigned char serie[8];
        RAND_bytes(serie, sizeof serie);
        serie[0] &= 0x7f;
        BIGNUM* numero = BN_bin2bn(serie, sizeof serie, nullptr);
        BN_to_ASN1_INTEGER(numero, X509_get_serialNumber(certificado));
        BN_free(numero);
        X509_set_version(certificado, 2);
        X509_gmtime_adj(X509_getm_notBefore(certificado), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificado), 24 * 3600);
        X509_set_pubkey(certificado, clave);
        X509_NAME* nombre = X509_get_subject_name(certificado);
        X509_NAME_add_entry_by_txt(nombre, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Tarsenvik tests"), -1,
                                   -1, 0);
        X509_NAME_add_entry_by_txt(nombre, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificado, nombre);
        correcto = anadirExtension(certificado, NID_basic_constraints, "critical,CA:TRUE")
                   && anadirExtension(certificado, NID_key_usage,
                                      "critical,digitalSignature,keyCertSign,cRLSign")
                   && anadirExtension(certificado, NID_subject_key_identifier, "hash")
                   && anadirExtension(certificado, NID_subject_alt_name, "IP:127.0.0.1")
                   && X509_sign(certificado, clave, EVP_sha256()) > 0;
    }
    if (correcto) {
        correcto = escribirPem(rutaClave,
                               [clave](FILE* f) {
                                   return PEM_write_PrivateKey(f, clave, nullptr, nullptr, 0,
                                                               nullptr, nullptr)
                                          == 1;
                               })
                   && escribirPem(rutaCertificado, [certificado](FILE* f) {
                          return PEM_write_X509(f, certificado) == 1;
                      });
    }
    X509_free(certificado);
    EVP_PKEY_free(clave);
    return correcto;
}
