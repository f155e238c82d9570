#include "release/FirmaLista.h"
#include "release/InstaladorVersion.h"
#include "release/XmlInstalador.h"
#include "support/EntornoPruebas.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libxml++/exceptions/exception.h>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ostream>
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

namespace {

const std::string hashA(64, 'a');
const std::string hashB = "0123456789abcdefABCDEF0123456789abcdef0123456789ABCDEF0123456789";

struct Entrada {
    std::string nombre, bytes, sha256;
    bool operator==(const Entrada& otra) const
    {
        return nombre == otra.nombre && bytes == otra.bytes && sha256 == otra.sha256;
    }
};

std::ostream& operator<<(std::ostream& salida, const Entrada& e)
{
    return salida << "{" << e.nombre << ", bytes '" << e.bytes << "', sha256 '" << e.sha256 << "'}";
}

// Everything a reader leaves behind: the record's entries with their checks,
// and the root element's release and platform.
struct LecturaCompleta {
    std::vector<Entrada> entradas;
    bool validas = false;
    bool completas = false;
    std::string version, plataforma;
    bool lanzo = false;
};

LecturaCompleta leerCompleto(const std::string& documento)
{
    const CarpetaTemporal carpeta;
    escribirFichero(carpeta / "XmlInstalacion.xml", documento);
    InstaladorVersion instalador(8, "win32", "http://h/r/win32/8", "notas");
    LecturaCompleta lectura;
    try {
        XmlInstalador lector(instalador);
        lector.set_substitute_entities(true);
        lector.parse_file(carpeta / "XmlInstalacion.xml");
        lectura.version = lector.getVersionLista();
        lectura.plataforma = lector.getPlataformaLista();
    } catch (const xmlpp::exception&) {
        lectura.lanzo = true;
    }
    for (int i = 0; i < instalador.getNumFicheros(); ++i)
        lectura.entradas.push_back(
            {instalador.getNombreFichero(i), instalador.getBytesFichero(i), instalador.getSha256Fichero(i)});
    lectura.validas = instalador.comprobacionesValidas();
    lectura.completas = instalador.comprobacionesCompletas();
    return lectura;
}

// "bytes" and "sha256" are remembered like "nombre": the last seen before a
// "fichero" end, cleared by it. The reader keeps what it reads; the record's
// checks tell a malformed value, which makes the update give up.
TEST(XmlInstaladorTest, TamanoYHashDeCadaFichero)
{
    const struct {
        const char* caso;
        std::string documento;
        std::vector<Entrada> esperadas;
        bool validas;
        bool completas;
    } casos[] = {
        {"both given", "<l><fichero nombre='a' bytes='12' sha256='" + hashA + "'/></l>",
         {{"a", "12", hashA}}, true, true},
        {"neither given: an old list", "<l><fichero nombre='a' ruta='r/'/></l>", {{"a", "", ""}},
         true, false},
        {"size only", "<l><fichero nombre='a' bytes='0'/></l>", {{"a", "0", ""}}, true, false},
        {"hash only, either letter case", "<l><fichero nombre='a' sha256='" + hashB + "'/></l>",
         {{"a", "", hashB}}, true, false},
        {"reset at each fichero end",
         "<l><fichero nombre='a' bytes='1' sha256='" + hashA + "'/><fichero nombre='b'/></l>",
         {{"a", "1", hashA}, {"b", "", ""}}, true, false},
        {"on a wrapping element: the first fichero only",
         "<l><g bytes='5' sha256='" + hashA + "'><fichero nombre='a'/><fichero nombre='b'/></g></l>",
         {{"a", "5", hashA}, {"b", "", ""}}, true, false},
        {"after the last end: dropped",
         "<l><fichero nombre='a'/><x bytes='5' sha256='" + hashA + "'/></l>", {{"a", "", ""}}, true,
         false},
        {"last one wins", "<l><fichero nombre='a' bytes='1'><x bytes='2'/></fichero></l>",
         {{"a", "2", ""}}, true, false},
        {"letter case of the names counts",
         "<l><fichero nombre='a' Bytes='1' SHA256='" + hashA + "'/></l>", {{"a", "", ""}}, true,
         false},
        {"an empty value is no value", "<l><fichero nombre='a' bytes='' sha256=''/></l>",
         {{"a", "", ""}}, true, false},
        {"18 digits", "<l><fichero nombre='a' bytes='999999999999999999'/></l>",
         {{"a", "999999999999999999", ""}}, true, false},
        {"19 digits", "<l><fichero nombre='a' bytes='1000000000000000000'/></l>",
         {{"a", "1000000000000000000", ""}}, false, false},
        {"negative size", "<l><fichero nombre='a' bytes='-1'/></l>", {{"a", "-1", ""}}, false,
         false},
        {"size with a blank", "<l><fichero nombre='a' bytes=' 12'/></l>", {{"a", " 12", ""}}, false,
         false},
        {"size in hex", "<l><fichero nombre='a' bytes='0x10'/></l>", {{"a", "0x10", ""}}, false,
         false},
        {"fractional size", "<l><fichero nombre='a' bytes='1.5'/></l>", {{"a", "1.5", ""}}, false,
         false},
        {"hash one digit short",
         "<l><fichero nombre='a' bytes='1' sha256='" + hashA.substr(1) + "'/></l>",
         {{"a", "1", hashA.substr(1)}}, false, true},
        {"hash one digit long", "<l><fichero nombre='a' bytes='1' sha256='" + hashA + "0'/></l>",
         {{"a", "1", hashA + "0"}}, false, true},
        {"hash with a letter past f",
         "<l><fichero nombre='a' bytes='1' sha256='" + hashA.substr(1) + "g'/></l>",
         {{"a", "1", hashA.substr(1) + "g"}}, false, true},
        {"one bad entry among good ones",
         "<l><fichero nombre='a' bytes='1' sha256='" + hashA + "'/><fichero nombre='b' bytes='x' sha256='"
             + hashA + "'/></l>",
         {{"a", "1", hashA}, {"b", "x", hashA}}, false, true},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const LecturaCompleta lectura = leerCompleto(caso.documento);
        EXPECT_FALSE(lectura.lanzo);
        EXPECT_EQ(lectura.entradas, caso.esperadas);
        EXPECT_EQ(lectura.validas, caso.validas);
        EXPECT_EQ(lectura.completas, caso.completas);
    }
}

// The release a list belongs to is read from its root element alone, and
// reading it changes nothing about the entries.
TEST(XmlInstaladorTest, VersionYPlataformaDeLaRaiz)
{
    const struct {
        const char* caso;
        std::string documento;
        std::string version, plataforma;
        std::vector<Entrada> esperadas;
    } casos[] = {
        {"both on the root",
         "<?xml version='1.0'?><instalacion version='305080' plataforma='win32'>"
         "<fichero nombre='a'/></instalacion>",
         "305080", "win32", {{"a", "", ""}}},
        {"absent", "<instalacion><fichero nombre='a'/></instalacion>", "", "", {{"a", "", ""}}},
        {"on a child only: not the list's",
         "<l><fichero nombre='a' version='9' plataforma='x'/><f version='9'/></l>", "", "",
         {{"a", "", ""}}},
        {"the root's, not a later element's",
         "<l version='1' plataforma='win32'><x version='2' plataforma='linux'/>"
         "<fichero nombre='a'/></l>",
         "1", "win32", {{"a", "", ""}}},
        {"kept as written", "<l version=' 0305080' plataforma='Win32'/>", " 0305080", "Win32", {}},
        {"a root named fichero is also an entry", "<fichero nombre='a' version='3' plataforma='p'/>",
         "3", "p", {{"a", "", ""}}},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const LecturaCompleta lectura = leerCompleto(caso.documento);
        EXPECT_FALSE(lectura.lanzo);
        EXPECT_EQ(lectura.version, caso.version);
        EXPECT_EQ(lectura.plataforma, caso.plataforma);
        EXPECT_EQ(lectura.entradas, caso.esperadas);
    }
}

std::string enBase64(const unsigned char* datos, size_t largo,
                     int variante = sodium_base64_VARIANT_ORIGINAL)
{
    std::vector<char> texto(sodium_base64_ENCODED_LEN(largo, variante));
    sodium_bin2base64(texto.data(), texto.size(), datos, largo, variante);
    return texto.data();
}

// The signature of the file list: only the exact bytes, signed by the key's
// holder, in the form the signing tool writes, pass.
TEST(XmlInstaladorTest, FirmaDeLaLista)
{
    ASSERT_TRUE(FirmaLista::iniciarSodium());
    unsigned char publica[crypto_sign_PUBLICKEYBYTES], secreta[crypto_sign_SECRETKEYBYTES];
    unsigned char otraPublica[crypto_sign_PUBLICKEYBYTES], otraSecreta[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publica, secreta);
    crypto_sign_keypair(otraPublica, otraSecreta);
    const std::string lista = "<instalacion version='7' plataforma='win32'>\n"
                              "<fichero nombre='a' bytes='1' sha256='" + hashA + "'/>\n</instalacion>\n";
    auto firmar = [&](const std::string& datos, const unsigned char* clave) {
        unsigned char firma[crypto_sign_BYTES];
        crypto_sign_detached(firma, nullptr, reinterpret_cast<const unsigned char*>(datos.data()),
                             datos.size(), clave);
        return std::string(reinterpret_cast<char*>(firma), sizeof firma);
    };
    auto b64 = [](const std::string& binario, int variante = sodium_base64_VARIANT_ORIGINAL) {
        return enBase64(reinterpret_cast<const unsigned char*>(binario.data()), binario.size(),
                        variante);
    };
    const std::string firma = firmar(lista, secreta);
    const std::string clave = enBase64(publica, sizeof publica);
    std::string cambiada = lista;
    cambiada[cambiada.find("bytes='1'") + 7] = '2';

    const struct {
        const char* caso;
        std::string datos, firma, clave;
        bool valida;
    } casos[] = {
        {"as the tool writes it", lista, b64(firma) + "\n", clave, true},
        {"bare, and with blanks and CRLF", lista, "  " + b64(firma) + "\r\n", clave, true},
        {"one byte of the list changed", cambiada, b64(firma) + "\n", clave, false},
        {"a line end added to the list", lista + "\n", b64(firma) + "\n", clave, false},
        {"signed by another key", lista, b64(firmar(lista, otraSecreta)) + "\n", clave, false},
        {"checked against another key", lista, b64(firma) + "\n",
         enBase64(otraPublica, sizeof otraPublica), false},
        {"empty signature", lista, "", clave, false},
        {"signature cut short", lista, b64(firma.substr(0, 63)) + "\n", clave, false},
        {"signature with a byte more", lista, b64(firma + "x") + "\n", clave, false},
        {"text after the signature", lista, b64(firma) + "\nextra\n", clave, false},
        {"URL-safe base64", lista, b64(firma, sodium_base64_VARIANT_URLSAFE) + "\n", clave,
         b64(firma) == b64(firma, sodium_base64_VARIANT_URLSAFE)},
        {"the signature in hex", lista, std::string(128, '0'), clave, false},
        {"no key", lista, b64(firma), "", false},
        {"a key cut short", lista, b64(firma), clave.substr(0, 40), false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        EXPECT_EQ(FirmaLista::verificar(caso.datos, caso.firma, caso.clave), caso.valida);
    }

    // From the files as the launcher keeps them: the bytes verified are handed back.
    const CarpetaTemporal carpeta;
    escribirFichero(carpeta / "XmlInstalacion.xml", lista);
    escribirFichero(carpeta / "XmlInstalacion.xml.sig", b64(firma) + "\n");
    std::string contenido = "previo";
    EXPECT_TRUE(FirmaLista::leerVerificada(carpeta / "XmlInstalacion.xml",
                                           carpeta / "XmlInstalacion.xml.sig", clave, contenido));
    EXPECT_EQ(contenido, lista);
    contenido = "previo";
    EXPECT_FALSE(FirmaLista::leerVerificada(carpeta / "XmlInstalacion.xml", carpeta / "no-existe.sig",
                                            clave, contenido));
    EXPECT_EQ(contenido, "previo");
}

} // namespace
