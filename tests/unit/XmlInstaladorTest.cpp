#include "release/InstaladorVersion.h"
#include "release/XmlInstalador.h"
#include "support/EntornoPruebas.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libxml++/exceptions/exception.h>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace EntornoPruebas;

namespace {

using Entradas = std::vector<std::pair<std::string, std::string>>;

struct Lectura {
    Entradas entradas;
    bool lanzo = false;
    std::string error;
};

// Reads a document as the update run does: a local copy, entities substituted.
Lectura leerRuta(const std::string& ruta)
{
    InstaladorVersion instalador(8, "win32", "http://h/r/win32/8", "notas");
    Lectura lectura;
    try {
        XmlInstalador lector(instalador);
        lector.set_substitute_entities(true);
        lector.parse_file(ruta);
    } catch (const xmlpp::exception& error) {
        lectura.lanzo = true;
        lectura.error = error.what();
    }
    for (int i = 0; i < instalador.getNumFicheros(); ++i)
        lectura.entradas.emplace_back(instalador.getNombreFichero(i), instalador.getRutaFichero(i));
    return lectura;
}

Lectura leer(const std::string& documento)
{
    const CarpetaTemporal carpeta;
    escribirFichero(carpeta / "XmlInstalacion.xml", documento);
    return leerRuta(carpeta / "XmlInstalacion.xml");
}

bool contiene(const Entradas& entradas, const std::string& texto)
{
    for (const auto& entrada : entradas) {
        if (entrada.first.find(texto) != std::string::npos
            || entrada.second.find(texto) != std::string::npos)
            return true;
    }
    return false;
}

TEST(XmlInstaladorTest, UnaEntradaPorCadaFinDeFichero)
{
    const struct {
        const char* caso;
        const char* documento;
        Entradas esperadas;
    } casos[] = {
        {"no fichero element", "<lista><otro nombre='a' ruta='b/'/></lista>", {}},
        {"letter case of the element",
         "<lista><Fichero nombre='a' ruta='r/'/><FICHERO nombre='b'/></lista>", {}},
        {"letter case of the attributes", "<lista><fichero Nombre='a' RUTA='r/'/></lista>",
         {{"", ""}}},
        {"name without folder", "<lista><fichero nombre='a.dll'/></lista>", {{"a.dll", ""}}},
        {"both on the element", "<lista><fichero ruta='data/maps/' nombre='m.map'/></lista>",
         {{"m.map", "data/maps/"}}},
        {"folder on a wrapping element goes to the first fichero only",
         "<lista><carpeta ruta='plugins/'><fichero nombre='a'/><fichero nombre='b'/></carpeta>"
         "</lista>",
         {{"a", "plugins/"}, {"b", ""}}},
        {"attributes after the last end are dropped",
         "<lista><fichero nombre='a'/><resto nombre='z' ruta='y/'/></lista>", {{"a", ""}}},
        {"self-closing and open-close each add one",
         "<lista><fichero nombre='a'></fichero><fichero nombre='b'/></lista>",
         {{"a", ""}, {"b", ""}}},
        {"document order, not name order",
         "<lista><fichero nombre='z.dll'/><fichero nombre='a.dll' ruta='x/'/>"
         "<fichero nombre='m.dll'/></lista>",
         {{"z.dll", ""}, {"a.dll", "x/"}, {"m.dll", ""}}},
        {"last nombre wins", "<lista nombre='primero'><fichero nombre='segundo'/></lista>",
         {{"segundo", ""}}},
        {"a child's nombre wins over its fichero's",
         "<lista><fichero nombre='a' ruta='r/'><x nombre='b'/></fichero></lista>",
         {{"b", "r/"}}},
        {"nested fichero: the inner end takes the values",
         "<lista><fichero nombre='a'><fichero nombre='b'/></fichero></lista>",
         {{"b", ""}, {"", ""}}},
        {"fichero without attributes", "<lista><fichero/></lista>", {{"", ""}}},
        {"root element named fichero", "<fichero nombre='a'/>", {{"a", ""}}},
        {"text and comments ignored",
         "<lista><!-- nombre='c' --><fichero nombre='a'>nombre='t'</fichero></lista>",
         {{"a", ""}}},
        {"entities substituted",
         "<!DOCTYPE lista [<!ENTITY carpeta 'datos/'>]>"
         "<lista><fichero nombre='a&amp;b caf&#233;.txt' ruta='&carpeta;'/></lista>",
         {{"a&b caf\xc3\xa9.txt", "datos/"}}},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const Lectura lectura = leer(caso.documento);
        EXPECT_FALSE(lectura.lanzo) << lectura.error;
        EXPECT_EQ(lectura.entradas, caso.esperadas);
    }
}

TEST(XmlInstaladorTest, DocumentosRotosLanzanYConservanLoLeido)
{
    const CarpetaTemporal carpeta;
    const struct {
        const char* caso;
        std::string documento;
        Entradas esperadas;
    } casos[] = {
        {"empty file", "", {}},
        {"not XML", "esto no es XML", {}},
        {"mismatched tag", "<l><fichero nombre='a'/><fichero nombre='b'/><roto></l>",
         {{"a", ""}, {"b", ""}}},
        {"cut short", "<l><fichero nombre='a' ruta='r/'/><fichero nombre='b'", {{"a", "r/"}}},
        {"undefined entity", "<l><fichero nombre='a'/><fichero nombre='&nada;'/></l>", {{"a", ""}}},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const Lectura lectura = leer(caso.documento);
        EXPECT_TRUE(lectura.lanzo);
        EXPECT_EQ(lectura.entradas, caso.esperadas);
    }

    for (const std::string& ruta : {carpeta / "no-existe.xml", carpeta.ruta()}) {
        SCOPED_TRACE(ruta);
        const Lectura lectura = leerRuta(ruta);
        EXPECT_TRUE(lectura.lanzo);
        EXPECT_TRUE(lectura.entradas.empty());
    }
}

// Counts connections to a loopback port; each is closed at once, so a client
// that connects fails fast instead of waiting.
class EscuchaConexiones {
public:
    EscuchaConexiones() : conexiones(0)
    {
        escucha = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in direccion{};
        direccion.sin_family = AF_INET;
        direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t largo = sizeof direccion;
        if (bind(escucha, reinterpret_cast<sockaddr*>(&direccion), largo) != 0
            || listen(escucha, 8) != 0
            || getsockname(escucha, reinterpret_cast<sockaddr*>(&direccion), &largo) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        puerto = ntohs(direccion.sin_port);
        hilo = std::thread([this] {
            for (int cliente; (cliente = accept(escucha, nullptr, nullptr)) >= 0;) {
                ++conexiones;
                close(cliente);
            }
        });
    }
    ~EscuchaConexiones()
    {
        shutdown(escucha, SHUT_RDWR);
        hilo.join();
        close(escucha);
    }
    int getPuerto() const { return puerto; }
    int getConexiones() const { return conexiones; }

private:
    int escucha;
    int puerto;
    std::atomic<int> conexiones;
    std::thread hilo;
};

// The document comes from the network: nothing it names outside itself is read.
TEST(XmlInstaladorTest, NoCargaEntidadesExternas)
{
    const CarpetaTemporal carpeta;
    const std::string secreto = carpeta / "secreto.xml";
    escribirFichero(secreto, "<fichero nombre='SECRETO' ruta='fuera/'/>");
    const std::string dtd = carpeta / "externa.dtd";
    escribirFichero(dtd, "<!ENTITY e \"<fichero nombre='SECRETO'/>\">");
    const EscuchaConexiones servidor;
    const std::string url = "http://127.0.0.1:" + std::to_string(servidor.getPuerto()) + "/x";
    const xmlExternalEntityLoader cargador = xmlGetExternalEntityLoader();

    const struct {
        const char* caso;
        std::string documento;
    } casos[] = {
        {"general entity, local file",
         "<!DOCTYPE l [<!ENTITY ext SYSTEM 'file://" + secreto + "'>]>"
         "<l><fichero nombre='a'/>&ext;</l>"},
        {"general entity, bare path",
         "<!DOCTYPE l [<!ENTITY ext SYSTEM '" + secreto + "'>]><l>&ext;</l>"},
        {"parameter entity",
         "<!DOCTYPE l [<!ENTITY % p SYSTEM '" + dtd + "'> %p;]><l>&e;</l>"},
        {"external DTD subset", "<!DOCTYPE l SYSTEM '" + dtd + "'><l>&e;</l>"},
        {"general entity over http",
         "<!DOCTYPE l [<!ENTITY ext SYSTEM '" + url + "'>]><l>&ext;</l>"},
        {"external DTD over http", "<!DOCTYPE l SYSTEM '" + url + "'><l><fichero nombre='a'/></l>"},
        {"unreachable URL", "<!DOCTYPE l [<!ENTITY ext SYSTEM 'http://127.0.0.1:1/x'>]><l>&ext;</l>"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const Lectura lectura = leer(caso.documento);
        // Refusing the whole document is as good as leaving the entity out.
        EXPECT_FALSE(contiene(lectura.entradas, "SECRETO"));
        EXPECT_FALSE(contiene(lectura.entradas, "fuera"));
    }
    EXPECT_EQ(servidor.getConexiones(), 0);
    // The refusal lasts only as long as a reader: other XML users load as before.
    EXPECT_EQ(xmlGetExternalEntityLoader(), cargador);
}

TEST(XmlInstaladorTest, RechazaLaExplosionDeEntidades)
{
    std::string dtd = "<!ENTITY a0 '0123456789'>";
    for (int nivel = 1; nivel <= 9; ++nivel) {
        const std::string previa = "&a" + std::to_string(nivel - 1) + ";";
        std::string valor;
        for (int i = 0; i < 10; ++i)
            valor += previa;
        dtd += "<!ENTITY a" + std::to_string(nivel) + " '" + valor + "'>";
    }
    // The same entities two levels deep are fine: the refusal is about the size.
    const Lectura moderada = leer("<!DOCTYPE l [" + dtd + "]><l><fichero nombre='&a2;'/></l>");
    EXPECT_FALSE(moderada.lanzo) << moderada.error;
    ASSERT_EQ(moderada.entradas.size(), 1u);
    EXPECT_EQ(moderada.entradas[0].first.size(), 1000u);

    const struct {
        const char* caso;
        std::string cuerpo;
    } casos[] = {
        {"in an attribute", "<l><fichero nombre='&a9;'/></l>"},
        {"in text", "<l><fichero nombre='a'>&a9;</fichero></l>"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const auto inicio = std::chrono::steady_clock::now();
        const Lectura lectura = leer("<!DOCTYPE l [" + dtd + "]>" + caso.cuerpo);
        const auto duracion = std::chrono::steady_clock::now() - inicio;
        EXPECT_TRUE(lectura.lanzo);
        EXPECT_LT(duracion, std::chrono::seconds(2));
        for (const auto& entrada : lectura.entradas)
            EXPECT_LT(entrada.first.size(), 1000u);
    }
}

} // namespace
