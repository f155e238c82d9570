// Transfers of the file list and of release files, in process, against the
// real HTTP server and, for the faults it cannot make, ServidorDefectuoso.
#include "support/EntornoPruebas.h"
#include "support/ServidorDefectuoso.h"
#include "support/ServidorPruebas.h"
#include "transfer/DescargaActualizacion.h"
#include "ui/DialogoActulizacion.h"
#include "ui/InterfazLauncher.h"
#include "ui/UtilesLauncher.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtkmm/container.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>
#include <sodium.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <vector>

namespace fs = std::filesystem;
using namespace EntornoPruebas;
using namespace std::chrono_literals;
using Respuesta = ServidorDefectuoso::Respuesta;
using Longitud = ServidorDefectuoso::Longitud;
using Final = ServidorDefectuoso::Final;

namespace {

const char* const nombreXml = "XmlInstalacion.xml";

// GLib reads XDG_CONFIG_HOME once per process, so one scratch configuration
// folder serves every test here; each test empties it.
const std::string& carpetaConfiguracion()
{
    static CarpetaTemporal carpeta;
    static const bool fijada = setenv("XDG_CONFIG_HOME", carpeta.ruta().c_str(), 1) == 0;
    (void)fijada;
    return carpeta.ruta();
}

double segundosDesde(std::chrono::steady_clock::time_point inicio)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
}

std::string trozoDePrueba(std::size_t tamano)
{
    std::string texto(tamano, '\0');
    for (std::size_t i = 0; i < tamano; ++i)
        texto[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return texto;
}

// The widget of that name (the layout's id) below `raiz`.
template <typename T>
T* buscarWidget(Gtk::Widget* raiz, const std::string& nombre)
{
    if (raiz == nullptr)
        return nullptr;
    if (raiz->get_name() == nombre)
        return dynamic_cast<T*>(raiz);
    if (auto* contenedor = dynamic_cast<Gtk::Container*>(raiz)) {
        for (Gtk::Widget* hijo : contenedor->get_children()) {
            if (T* encontrado = buscarWidget<T>(hijo, nombre))
                return encontrado;
        }
    }
    return nullptr;
}

// A launcher window switched to its download panel, as the update run does,
// with the panel handed to the downloader.
struct PanelProgreso {
    InterfazLauncher ventana;
    Gtk::ProgressBar* barra = nullptr;
    Gtk::Label* cantidad = nullptr;

    explicit PanelProgreso(DescargaActualizacion& descarga)
    {
        ventana.crearDialogoActuliazcion();
        DialogoActulizacion* panel = ventana.getDialogoActualizacion();
        if (panel == nullptr)
            return;
        descarga.setDialogoProgreso(*panel);
        barra = buscarWidget<Gtk::ProgressBar>(panel, "barraProgreso");
        cantidad = buscarWidget<Gtk::Label>(panel, "InfoDescargaA");
    }
};

class DescargaActualizacionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string configuracion = carpetaConfiguracion();
        std::error_code error;
        for (const auto& entrada : fs::directory_iterator(configuracion, error))
            fs::remove_all(entrada.path(), error);
        fs::create_directories(configuracion + "/tarsenviklauncher");
        fs::create_directories(configuracion + "/datosTarsenvik");
        ASSERT_EQ(UtilesLauncher::obtenerDireccionConfig(), configuracion + "/tarsenviklauncher")
            << "the settings folder was fixed before the tests could choose it";
    }

    void TearDown() override
    {
        DescargaActualizacion::setLimiteInactividad(DescargaActualizacion::inactividadPorDefecto);
    }

    static bool hayPantalla() { return gdk_display_get_default() != nullptr; }

    // A folder of the real server's document root, removed with the test.
    struct CarpetaWeb {
        std::string relativa = "descarga-" + std::to_string(getpid());
        std::string ruta = ServidorPruebas::carpetaWww() + "/" + relativa;
        std::string url = ServidorPruebas::urlBase() + "/" + relativa;
        ~CarpetaWeb()
        {
            std::error_code error;
            fs::remove_all(ruta, error);
        }
    };

    CarpetaTemporal scratch;
};

// The real server's 404: the transfer fails and leaves an empty file behind.
TEST_F(DescargaActualizacionTest, StatusFrom400FailsAndLeavesAnEmptyFile)
{
    const std::string url = ServidorPruebas::urlBase() + "/no-such-folder";
    struct Caso {
        const char* operacion;
        std::function<bool(DescargaActualizacion&)> descargar;
        std::string fichero;
    };
    const std::vector<Caso> casos = {
        {"descargaDatos",
         [&](DescargaActualizacion& d) { return d.descargaDatos(url + "/file.bin", scratch / "file.bin"); },
         scratch / "file.bin"},
        {"descargaFicheroXml",
         [&](DescargaActualizacion& d) { return d.descargaFicheroXml(url, nombreXml); },
         UtilesLauncher::direccionConfig(nombreXml)},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.operacion);
        DescargaActualizacion descarga;
        EXPECT_FALSE(caso.descargar(descarga));
        EXPECT_TRUE(existe(caso.fichero));
        EXPECT_EQ(leerFichero(caso.fichero), "");
    }
}

// Answers a real server does not give, each through descargaDatos.
TEST_F(DescargaActualizacionTest, UnusualAnswersOfTheServer)
{
    const std::string cuerpo = trozoDePrueba(6000);
    struct Caso {
        const char* nombre;
        Respuesta respuesta;
        bool correcto;
        std::string guardado;  // the file afterwards, when the transfer succeeds
    };
    auto respuesta = [&](int estado, Longitud longitud, long long anunciada, Final final) {
        Respuesta r;
        r.estado = estado;
        r.cuerpo = cuerpo;
        r.longitud = longitud;
        r.anunciada = anunciada;
        r.final = final;
        r.trozo = 1000;
        return r;
    };
    Respuesta redireccion = respuesta(302, Longitud::Anunciada, -1, Final::Completo);
    redireccion.cuerpo = "<html>moved to /destino</html>";
    redireccion.cabeceras = {{"Location", "/destino"}};
    const std::vector<Caso> casos = {
        // Redirects are not followed: what the 302 carries is the file.
        {"redirect", redireccion, true, redireccion.cuerpo},
        {"chunked", respuesta(200, Longitud::Troceada, -1, Final::Completo), true, cuerpo},
        {"ended by closing", respuesta(200, Longitud::HastaCierre, -1, Final::Completo), true,
         cuerpo},
        // Bytes beyond the announced length are not part of the file.
        {"more than announced", respuesta(200, Longitud::Anunciada, 4000, Final::Completo), true,
         cuerpo.substr(0, 4000)},
        {"dropped before the announced length",
         respuesta(200, Longitud::Anunciada, 20000, Final::Corte), false, ""},
        {"dropped before the last chunk", respuesta(200, Longitud::Troceada, -1, Final::Corte),
         false, ""},
    };
    ServidorDefectuoso servidor;
    servidor.responder("/destino", respuesta(200, Longitud::Anunciada, -1, Final::Completo));
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        servidor.responder("/fichero", caso.respuesta);
        const std::size_t antes = servidor.rutasPedidas().size();
        DescargaActualizacion descarga;
        const std::string destino = scratch / "fichero";
        EXPECT_EQ(descarga.descargaDatos(servidor.url() + "/fichero", destino), caso.correcto);
        if (caso.correcto) {
            EXPECT_EQ(leerFichero(destino), caso.guardado);
        }
        const std::vector<std::string> pedidas = servidor.rutasPedidas();
        EXPECT_EQ(std::vector<std::string>(pedidas.begin() + static_cast<long>(antes), pedidas.end()),
                  std::vector<std::string>{"/fichero"});
    }
}

// A release file that stops arriving is abandoned after the inactivity limit;
// one that keeps arriving slowly is not, however long it takes.
TEST_F(DescargaActualizacionTest, StalledTransferIsAbandonedAfterTheInactivityLimit)
{
    DescargaActualizacion::setLimiteInactividad(2);
    struct Caso {
        const char* nombre;
        Respuesta respuesta;
        bool correcto;
    };
    auto parcial = [](Longitud longitud) {
        Respuesta r;
        r.cuerpo = trozoDePrueba(3000);
        r.longitud = longitud;
        r.anunciada = longitud == Longitud::Anunciada ? 100000 : -1;
        r.final = Final::Estancar;
        return r;
    };
    Respuesta muda;
    muda.sinRespuesta = true;
    Respuesta lenta;
    lenta.cuerpo = trozoDePrueba(3100);
    lenta.trozo = 100;
    lenta.pausa = 100ms;  // about 3 s in all, never 2 s without data
    const std::vector<Caso> casos = {
        {"no answer at all", muda, false},
        {"silent after part of the body", parcial(Longitud::Anunciada), false},
        {"silent after some chunks", parcial(Longitud::Troceada), false},
        {"slow but steady", lenta, true},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorDefectuoso servidor;
        servidor.responder("/fichero", caso.respuesta);
        DescargaActualizacion descarga;
        const auto inicio = std::chrono::steady_clock::now();
        EXPECT_EQ(descarga.descargaDatos(servidor.url() + "/fichero", scratch / "fichero"),
                  caso.correcto);
        const double segundos = segundosDesde(inicio);
        if (caso.correcto) {
            EXPECT_EQ(leerFichero(scratch / "fichero"), caso.respuesta.cuerpo);
            EXPECT_GT(segundos, 2.5);
        } else {
            EXPECT_GE(segundos, 1.5);
            EXPECT_LT(segundos, 6.0);
        }
    }
}

// The file list has 2500 ms in all, even while its bytes keep coming.
TEST_F(DescargaActualizacionTest, FileListHasATimeLimitEvenWhileDataArrives)
{
    struct Caso {
        const char* nombre;
        int piezas;
        bool correcto;
        double minimo, maximo;  // seconds
    };
    const std::vector<Caso> casos = {
        {"done within the limit", 12, true, 0.9, 2.4},
        {"still trickling at the limit", 100, false, 2.4, 4.0},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorDefectuoso servidor;
        Respuesta goteo;
        goteo.cuerpo = trozoDePrueba(static_cast<std::size_t>(caso.piezas) * 10);
        goteo.trozo = 10;
        goteo.pausa = 100ms;
        servidor.responder(std::string("/lista/") + nombreXml, goteo);
        DescargaActualizacion descarga;
        const auto inicio = std::chrono::steady_clock::now();
        EXPECT_EQ(descarga.descargaFicheroXml(servidor.url() + "/lista", nombreXml),
                  caso.correcto);
        const double segundos = segundosDesde(inicio);
        EXPECT_GE(segundos, caso.minimo);
        EXPECT_LE(segundos, caso.maximo);
        const std::string guardado = leerFichero(UtilesLauncher::direccionConfig(nombreXml));
        if (caso.correcto) {
            EXPECT_EQ(guardado, goteo.cuerpo);
        } else {
            // Data was flowing when the limit struck.
            EXPECT_GE(guardado.size(), 150u);
            EXPECT_LT(guardado.size(), goteo.cuerpo.size());
        }
    }
}

// Without a known length the bar is left alone and the total reads 0; with
// one, the bar ends at 100 %.
TEST_F(DescargaActualizacionTest, ProgressWithAndWithoutAKnownLength)
{
    ASSERT_TRUE(hayPantalla()) << "no display: run through ctest, which starts Xvfb";
    struct Caso {
        const char* nombre;
        Longitud longitud;
        long long declarado;  // size the file list declares; negative: none
        bool conFraccion;
        const char* cantidad;  // pattern of the amount label
    };
    const std::vector<Caso> casos = {
        {"chunked", Longitud::Troceada, -1, false, "^Downloaded [0-9.]+ from 0 KB$"},
        {"ended by closing", Longitud::HastaCierre, -1, false, "^Downloaded [0-9.]+ from 0 KB$"},
        {"announced length", Longitud::Anunciada, -1, true, "^Downloaded [0-9.]+ from 12 KB$"},
        // The file list's size stands in for the length the server does not send.
        {"chunked, size declared", Longitud::Troceada, 12 * 1024, true,
         "^Downloaded [0-9.]+ from 12 KB$"},
        {"ended by closing, size declared", Longitud::HastaCierre, 12 * 1024, true,
         "^Downloaded [0-9.]+ from 12 KB$"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorDefectuoso servidor;
        Respuesta r;
        // Over a second, so that the amount label is refreshed at least once.
        r.cuerpo = trozoDePrueba(12 * 1024);
        r.trozo = 1024;
        r.pausa = 120ms;
        r.longitud = caso.longitud;
        servidor.responder("/fichero", r);

        DescargaActualizacion descarga;
        PanelProgreso panel(descarga);
        ASSERT_NE(panel.barra, nullptr);
        ASSERT_NE(panel.cantidad, nullptr);
        const Glib::ustring textoInicial = panel.barra->get_text();
        const double fraccionInicial = panel.barra->get_fraction();
        int cambiosFraccion = 0;
        panel.barra->property_fraction().signal_changed().connect([&] { ++cambiosFraccion; });

        DescargaActualizacion::Esperado esperado;
        esperado.bytes = caso.declarado;
        ASSERT_TRUE(
            descarga.descargaDatos(servidor.url() + "/fichero", scratch / "fichero", esperado));
        EXPECT_EQ(leerFichero(scratch / "fichero"), r.cuerpo);
        const std::string cantidad = panel.cantidad->get_text();
        EXPECT_TRUE(std::regex_search(cantidad, std::regex(caso.cantidad))) << cantidad;
        if (caso.conFraccion) {
            EXPECT_EQ(panel.barra->get_text(), "100 %");
            EXPECT_DOUBLE_EQ(panel.barra->get_fraction(), 1.0);
            EXPECT_GT(cambiosFraccion, 1);
        } else {
            EXPECT_EQ(panel.barra->get_text(), textoInicial);
            EXPECT_DOUBLE_EQ(panel.barra->get_fraction(), fraccionInicial);
            EXPECT_EQ(cambiosFraccion, 0);
        }
    }
}

// A large release file from the real server: the bar climbs to 100 % and the
// amounts are told in MB.
TEST_F(DescargaActualizacionTest, ProgressOfALargeDownloadFromTheRealServer)
{
    ASSERT_TRUE(hayPantalla()) << "no display: run through ctest, which starts Xvfb";
    CarpetaWeb web;
    const std::string contenido = trozoDePrueba(21 * 1024 * 1024);
    escribirFichero(web.ruta + "/grande.bin", contenido);

    DescargaActualizacion descarga;
    PanelProgreso panel(descarga);
    ASSERT_NE(panel.barra, nullptr);
    ASSERT_NE(panel.cantidad, nullptr);
    // Amounts are refreshed when the clock's second changes, and over the
    // loopback the whole file would be in long before that: a window busy
    // elsewhere holds up the first report for over a second, and the rest of
    // the file, more than the socket buffers hold, comes after it.
    std::vector<double> fracciones;
    panel.barra->property_fraction().signal_changed().connect([&] {
        fracciones.push_back(panel.barra->get_fraction());
        if (fracciones.size() == 1)
            dormirMs(1100);
    });

    ASSERT_TRUE(descarga.descargaDatos(web.url + "/grande.bin", scratch / "grande.bin"));
    EXPECT_TRUE(leerFichero(scratch / "grande.bin") == contenido);

    EXPECT_EQ(panel.barra->get_text(), "100 %");
    EXPECT_DOUBLE_EQ(panel.barra->get_fraction(), 1.0);
    ASSERT_GT(fracciones.size(), 2u);
    EXPECT_TRUE(std::is_sorted(fracciones.begin(), fracciones.end()));
    const std::string cantidad = panel.cantidad->get_text();
    EXPECT_TRUE(std::regex_search(cantidad, std::regex("^Downloaded [0-9.]+ from 21 MB$")))
        << cantidad;
}

// An output file that cannot be created fails the transfer, nothing more.
TEST_F(DescargaActualizacionTest, OutputFileThatCannotBeCreated)
{
    CarpetaWeb web;
    escribirFichero(web.ruta + "/" + nombreXml, "<instalacion/>");
    escribirFichero(web.ruta + "/a.bin", "contenido");
    {
        SCOPED_TRACE("descargaDatos into a missing folder");
        DescargaActualizacion descarga;
        EXPECT_FALSE(descarga.descargaDatos(web.url + "/a.bin", scratch / "missing/a.bin"));
        EXPECT_FALSE(existe(scratch / "missing"));
    }
    {
        SCOPED_TRACE("descargaFicheroXml without the settings folder");
        fs::remove_all(UtilesLauncher::obtenerDireccionConfig());
        DescargaActualizacion descarga;
        EXPECT_FALSE(descarga.descargaFicheroXml(web.url, nombreXml));
        EXPECT_FALSE(existe(UtilesLauncher::obtenerDireccionConfig()));
    }
}

// Certificates are checked against the system's CAs, or against the bundle
// that SSL_CERT_FILE names; the name in the certificate must match the host.
TEST_F(DescargaActualizacionTest, HttpsRequiresATrustedCertificateForTheHost)
{
    const std::string certificado = scratch / "ca.pem";
    const std::string clave = scratch / "clave.pem";
    ASSERT_TRUE(ServidorDefectuoso::crearCertificado(certificado, clave));
    ServidorDefectuoso servidor(certificado, clave);
    ASSERT_GT(servidor.puerto(), 0);
    Respuesta r;
    r.cuerpo = "<instalacion><fichero nombre=\"a\"/></instalacion>";
    servidor.responder("/rel/a.bin", r);
    servidor.responder(std::string("/rel/") + nombreXml, r);
    const std::string puerto = std::to_string(servidor.puerto());

    struct Caso {
        const char* nombre;
        std::string ca;  // SSL_CERT_FILE; empty leaves the system's CAs
        std::string host;
        bool correcto;
    };
    const std::vector<Caso> casos = {
        {"self-signed, not trusted", "", "127.0.0.1", false},
        {"test CA in SSL_CERT_FILE", certificado, "127.0.0.1", true},
        {"trusted, but for another name", certificado, "localhost", false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        VariableTemporal ca("SSL_CERT_FILE", caso.ca);
        const std::string base = "https://" + caso.host + ":" + puerto + "/rel";
        DescargaActualizacion descarga;
        fs::remove(scratch / "a.bin");
        fs::remove(UtilesLauncher::direccionConfig(nombreXml));
        EXPECT_EQ(descarga.descargaDatos(base + "/a.bin", scratch / "a.bin"), caso.correcto);
        EXPECT_EQ(descarga.descargaFicheroXml(base, nombreXml), caso.correcto);
        EXPECT_EQ(leerFichero(scratch / "a.bin"), caso.correcto ? r.cuerpo : "");
        EXPECT_EQ(leerFichero(UtilesLauncher::direccionConfig(nombreXml)),
                  caso.correcto ? r.cuerpo : "");
    }
}

// One slash is always put between the base and the name, and the URL is
// printed before the transfer.
TEST_F(DescargaActualizacionTest, FileListUrlIsBaseSlashName)
{
    ServidorDefectuoso servidor;
    Respuesta r;
    r.cuerpo = "<instalacion/>";
    servidor.responder("/win32/7/XmlInstalacion.xml", r);
    servidor.responder("/win32/7//XmlInstalacion.xml", r);
    struct Caso {
        std::string base;
        std::string ruta;
    };
    const std::vector<Caso> casos = {
        {servidor.url() + "/win32/7", "/win32/7/XmlInstalacion.xml"},
        {servidor.url() + "/win32/7/", "/win32/7//XmlInstalacion.xml"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.base);
        const std::size_t antes = servidor.rutasPedidas().size();
        DescargaActualizacion descarga;
        testing::internal::CaptureStdout();
        const bool correcto = descarga.descargaFicheroXml(caso.base, nombreXml);
        const std::string salida = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(correcto);
        EXPECT_EQ(salida, caso.base + "/" + nombreXml + "\n");
        const std::vector<std::string> pedidas = servidor.rutasPedidas();
        ASSERT_EQ(pedidas.size(), antes + 1);
        EXPECT_EQ(pedidas.back(), caso.ruta);
    }
}

// The file list goes into the settings folder, over any earlier copy.
TEST_F(DescargaActualizacionTest, FileListReplacesTheCopyInTheSettingsFolder)
{
    CarpetaWeb web;
    const std::string nuevo = "<instalacion><fichero nombre=\"a.dll\" ruta=\"\"/></instalacion>\n";
    escribirFichero(web.ruta + "/" + nombreXml, nuevo);
    const std::string local = UtilesLauncher::direccionConfig(nombreXml);
    escribirFichero(local, std::string(4096, 'v'));

    DescargaActualizacion descarga;
    ASSERT_TRUE(descarga.descargaFicheroXml(web.url, nombreXml));
    EXPECT_EQ(leerFichero(local), nuevo);
    EXPECT_EQ(listarFicheros(UtilesLauncher::obtenerDireccionCache()),
              std::vector<std::string>{});
}

std::string sha256Hex(const std::string& datos)
{
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(datos.data()), datos.size());
    char hex[2 * sizeof hash + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

std::string mayusculas(std::string texto)
{
    for (char& c : texto)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return texto;
}

// A release file is checked against the size and hash its list declares
// while it arrives: more bytes than declared are abandoned at once and never
// reach the disk; fewer, or other bytes, fail at the end.
TEST_F(DescargaActualizacionTest, DeclaredSizeAndHashAreCheckedWhileStreaming)
{
    // A stall after the body is cut by the size check, long before this.
    DescargaActualizacion::setLimiteInactividad(20);
    const std::string cuerpo = trozoDePrueba(20000);
    const long long tamano = static_cast<long long>(cuerpo.size());
    const std::string hash = sha256Hex(cuerpo);
    std::string alterado = cuerpo;
    alterado[12345] ^= 0x01;
    const std::string enorme = trozoDePrueba(8 * 1024 * 1024);

    struct Caso {
        const char* nombre;
        Respuesta respuesta;
        DescargaActualizacion::Esperado esperado;
        bool correcto;
        bool pedido;  // the server was asked at all
    };
    auto respuesta = [](const std::string& datos, Longitud longitud, Final final = Final::Completo,
                        long long anunciada = -1) {
        Respuesta r;
        r.cuerpo = datos;
        r.longitud = longitud;
        r.final = final;
        r.anunciada = anunciada;
        // (An empty body through the server's piecewise path never ends.)
        r.trozo = datos.empty() ? 0 : 4096;
        return r;
    };
    auto esperado = [](long long bytes, const std::string& sha256) {
        DescargaActualizacion::Esperado e;
        e.bytes = bytes;
        e.sha256 = sha256;
        return e;
    };
    const std::vector<Caso> casos = {
        {"size and hash as declared", respuesta(cuerpo, Longitud::Anunciada),
         esperado(tamano, hash), true, true},
        {"hash in capitals, chunked", respuesta(cuerpo, Longitud::Troceada),
         esperado(tamano, mayusculas(hash)), true, true},
        {"hash only, no length", respuesta(cuerpo, Longitud::HastaCierre), esperado(-1, hash), true,
         true},
        {"size only", respuesta(alterado, Longitud::Anunciada), esperado(tamano, ""), true, true},
        {"nothing declared", respuesta(alterado, Longitud::Anunciada), esperado(-1, ""), true, true},
        {"an empty file", respuesta("", Longitud::Anunciada), esperado(0, sha256Hex("")), true,
         true},
        {"one bit changed", respuesta(alterado, Longitud::Anunciada), esperado(tamano, hash), false,
         true},
        {"one bit changed, size not declared", respuesta(alterado, Longitud::Troceada),
         esperado(-1, hash), false, true},
        {"one byte short", respuesta(cuerpo.substr(1), Longitud::Anunciada),
         esperado(tamano, ""), false, true},
        {"one byte more", respuesta(cuerpo + "x", Longitud::Anunciada), esperado(tamano, ""), false,
         true},
        {"a length announced beyond the declared size",
         respuesta(enorme, Longitud::Anunciada, Final::Estancar,
                   static_cast<long long>(enorme.size()) * 4),
         esperado(tamano, hash), false, true},
        {"no length, more than declared, then silence",
         respuesta(enorme, Longitud::HastaCierre, Final::Estancar), esperado(tamano, hash), false,
         true},
        {"chunked, more than declared, then silence",
         respuesta(enorme, Longitud::Troceada, Final::Estancar), esperado(tamano, ""), false, true},
        {"a declared hash that is not one", respuesta(cuerpo, Longitud::Anunciada),
         esperado(tamano, hash.substr(2) + "zz"), false, false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorDefectuoso servidor;
        servidor.responder("/fichero", caso.respuesta);
        const std::string destino = scratch / "fichero";
        escribirFichero(destino, "previous content");
        DescargaActualizacion descarga;
        const auto inicio = std::chrono::steady_clock::now();
        EXPECT_EQ(descarga.descargaDatos(servidor.url() + "/fichero", destino, caso.esperado),
                  caso.correcto);
        EXPECT_LT(segundosDesde(inicio), 5.0);
        EXPECT_EQ(servidor.rutasPedidas().size(), caso.pedido ? 1u : 0u);
        if (caso.correcto) {
            EXPECT_EQ(leerFichero(destino), caso.respuesta.cuerpo);
        } else if (caso.esperado.bytes >= 0 && caso.pedido) {
            std::error_code error;
            EXPECT_LE(static_cast<long long>(fs::file_size(destino, error)), caso.esperado.bytes);
        }
    }
}

// The file list and its signature have no declared size: a server that sends
// more than limiteXmlBytes is cut off there, within the time limit.
TEST_F(DescargaActualizacionTest, FileListLargerThanTheLimitIsAbandoned)
{
    const std::size_t limite = static_cast<std::size_t>(DescargaActualizacion::limiteXmlBytes);
    struct Caso {
        const char* nombre;
        std::size_t tamano;
        bool correcto;
    };
    const std::vector<Caso> casos = {
        {"at the limit", limite, true},
        {"beyond the limit", limite + 64 * 1024, false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorDefectuoso servidor;
        Respuesta r;
        r.cuerpo = trozoDePrueba(caso.tamano);
        r.longitud = Longitud::HastaCierre;
        r.trozo = 64 * 1024;
        servidor.responder("/rel/XmlInstalacion.xml.sig", r);
        DescargaActualizacion descarga;
        const auto inicio = std::chrono::steady_clock::now();
        EXPECT_EQ(descarga.descargaFicheroXml(servidor.url() + "/rel", "XmlInstalacion.xml.sig"),
                  caso.correcto);
        EXPECT_LT(segundosDesde(inicio), 2.4);
        const std::string guardado =
            leerFichero(UtilesLauncher::direccionConfig("XmlInstalacion.xml.sig"));
        EXPECT_LE(guardado.size(), limite);
        if (caso.correcto) {
            EXPECT_TRUE(guardado == r.cuerpo);
        }
    }
}

} // namespace
