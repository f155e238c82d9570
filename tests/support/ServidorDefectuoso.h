#pragma once

#include <chrono>
#include <cstddef>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

/// An HTTP (or HTTPS) server on 127.0.0.1, in a thread of the test process,
/// for the answers a well-behaved server never gives: a stall, a connection
/// dropped mid-body, no length, a slow trickle, more bytes than announced.
/// Each path is answered as told with responder(); other paths get 404.
class ServidorDefectuoso {
public:
    /// How the end of the body is told to the client.
    enum class Longitud {
        Anunciada,    // Content-Length: `anunciada`, or the body's size
        Troceada,     // Transfer-Encoding: chunked
        HastaCierre,  // no length at all: the body ends when the connection closes
    };
    /// What follows the body.
    enum class Final {
        Completo,  // the answer ends normally
        Corte,     // the connection is dropped (no final chunk, fewer bytes than announced)
        Estancar,  // the connection stays open and silent until the server stops
    };

    struct Respuesta {
        int estado = 200;
        std::vector<std::pair<std::string, std::string>> cabeceras;
        std::string cuerpo;
        Longitud longitud = Longitud::Anunciada;
        /// Content-Length to announce with Longitud::Anunciada; negative: the body's size.
        long long anunciada = -1;
        /// The body goes out in pieces of this many bytes (0: all at once),
        /// with `pausa` before every piece but the first.
        std::size_t trozo = 0;
        std::chrono::milliseconds pausa{0};
        Final final = Final::Completo;
        /// Not even the status line is sent: the request is left unanswered
        /// until the server stops.
        bool sinRespuesta = false;
    };

    /// Plain HTTP on an ephemeral port.
    ServidorDefectuoso();
    /// HTTPS with this certificate and key (PEM files).
    ServidorDefectuoso(const std::string& certificado, const std::string& clave);
    /// Wakes every stalled answer, stops the server and waits a bounded time for its threads.
    ~ServidorDefectuoso();
    ServidorDefectuoso(const ServidorDefectuoso&) = delete;
    ServidorDefectuoso& operator=(const ServidorDefectuoso&) = delete;

    /// Answers GET `ruta` (the exact request path) with `respuesta`.
    void responder(const std::string& ruta, const Respuesta& respuesta);

    int puerto() const { return numeroPuerto; }
    /// "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
    std::string url() const;
    /// Request paths seen so far, in order of arrival.
    std::vector<std::string> rutasPedidas() const;

    /// Writes a self-signed certificate for 127.0.0.1 (CN and IP subject
    /// alternative name; it is its own CA) and its key as PEM files.
    static bool crearCertificado(const std::string& certificado, const std::string& clave);

private:
    struct Estado;
    void arrancar(bool conTls, const std::string& certificado, const std::string& clave);

    // Everything the server's threads use lives in `estado`, shared with the
    // listening thread: should that thread outlive its bounded wait, it keeps
    // what it needs and nothing is freed under it.
    std::shared_ptr<Estado> estado;
    std::thread hilo;
    std::future<void> fin;
    int numeroPuerto = 0;
    bool https = false;
};
