#include "release/ConexionBD.h"

#include "release/InstallTarsenvik.h"
#include "support/EntornoPruebas.h"
#include "support/ServidorPruebas.h"

#include <ConfiguracionCompilacion.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mysql++.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace EntornoPruebas;

namespace {

const char* const prefijoError = "Failed to get item list: ";
const char* const tabla = "tarsenvik_version";
const char* const tablaApartada = "tarsenvik_version_apartada";

// Rows of a statement run as root over the socket; each row as texts ("NULL" for NULL).
std::vector<std::vector<std::string>> consultar(const std::string& sentencia)
{
    std::vector<std::vector<std::string>> filas;
    mysqlpp::Connection conexion(false);
    if (!conexion.connect("tarsenvik_update", ServidorPruebas::socket().c_str(), "root", "")) {
        ADD_FAILURE() << "cannot log in as root: " << conexion.error();
        return filas;
    }
    mysqlpp::Query consulta = conexion.query(sentencia);
    const mysqlpp::StoreQueryResult resultado = consulta.store();
    if (!resultado) {
        ADD_FAILURE() << "query failed: " << consulta.error() << "\n" << sentencia;
        return filas;
    }
    for (size_t r = 0; r < resultado.num_rows(); ++r) {
        std::vector<std::string> fila;
        for (size_t c = 0; c < resultado.num_fields(); ++c)
            fila.emplace_back(resultado[r][c].is_null() ? "NULL" : std::string(resultado[r][c]));
        filas.push_back(fila);
    }
    return filas;
}

bool existeTabla(const std::string& nombre)
{
    return !consultar("SHOW TABLES LIKE '" + nombre + "'").empty();
}

// The table's definition without its auto-increment counter, which rows move.
std::string definicion()
{
    const auto filas = consultar(std::string("SHOW CREATE TABLE ") + tabla);
    if (filas.empty() || filas[0].size() < 2)
        return std::string();
    return std::regex_replace(filas[0][1], std::regex(" AUTO_INCREMENT=[0-9]+"), "");
}

// A port where nothing listens: taken from the system, then let go.
int puertoLibre()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in direccion{};
    direccion.sin_family = AF_INET;
    direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof direccion;
    bind(s, reinterpret_cast<sockaddr*>(&direccion), largo);
    getsockname(s, reinterpret_cast<sockaddr*>(&direccion), &largo);
    close(s);
    return ntohs(direccion.sin_port);
}

ConexionBD conexionCon(const std::string& baseDatos, const std::string& clave, int puerto)
{
    return ConexionBD(baseDatos, "127.0.0.1", "tarsenvikUpdate", clave,
                      static_cast<unsigned int>(puerto));
}

void rellenarCentinela(InstallTarsenvik& fila)
{
    fila.setUltimaVersion(-42);
    fila.setPlataforma("centinela");
    fila.setPathXmlListado("http://centinela");
    fila.setDescripcionActualizacion("sin tocar");
}

std::string resumen(const InstallTarsenvik& fila)
{
    return std::to_string(fila.getUltimaVersion()) + "|" + fila.getPlataforma() + "|"
           + fila.getPathXmlListado() + "|" + fila.getDescripcionActualizacion();
}

const std::string centinela = "-42|centinela|http://centinela|sin tocar";

struct Llamada {
    bool resultado;
    std::string salida;
    std::string errores;
};

Llamada llamar(ConexionBD& conexion, int instalada, InstallTarsenvik& fila)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Llamada llamada;
    llamada.resultado = conexion.obtenerDatosBD("win32", instalada, fila);
    llamada.errores = testing::internal::GetCapturedStderr();
    llamada.salida = testing::internal::GetCapturedStdout();
    return llamada;
}

// Every test starts from, and leaves, an empty table with the real schema:
// the other test programs share this server.
class ConexionBDTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(puertoBaseDatos(), static_cast<int>(ConfiguracionCompilacion::puertoBaseDatos))
            << "the launcher under test is built for another database port";
        if (esquemaReal.empty())
            esquemaReal = definicion();
        ASSERT_NE(esquemaReal, "") << "no release table on the test server";
    }

    void SetUp() override { restaurarTabla(); }
    void TearDown() override { restaurarTabla(); }

    static void restaurarTabla()
    {
        if (!existeTabla(tabla) && existeTabla(tablaApartada))
            ServidorPruebas::sql(std::string("RENAME TABLE ") + tablaApartada + " TO " + tabla);
        ServidorPruebas::sql(std::string("DROP TABLE IF EXISTS ") + tablaApartada);
        if (definicion() != esquemaReal) {
            // The account's SELECT grant names the table, so it outlives the drop.
            ServidorPruebas::sql(std::string("DROP TABLE IF EXISTS ") + tabla);
            ServidorPruebas::sql(esquemaReal);
        }
        ServidorPruebas::sql(std::string("TRUNCATE TABLE ") + tabla);
    }

    // Columns that accept text and NULL, as a hand-made table might have.
    static void esquemaPermisivo()
    {
        ServidorPruebas::sql(std::string("ALTER TABLE ") + tabla
                             + " MODIFY t_version VARCHAR(32) NULL,"
                               " MODIFY t_plataforma VARCHAR(64) NULL,"
                               " MODIFY t_descripcion TEXT NULL,"
                               " MODIFY t_path_fichero_xml VARCHAR(255) NULL");
    }

    static void insertar(const std::vector<std::string>& filas)
    {
        if (filas.empty())
            return;
        std::string sentencia = std::string("INSERT INTO ") + tabla
                                + " (t_version, t_plataforma, t_descripcion, t_path_fichero_xml)"
                                  " VALUES ";
        for (size_t i = 0; i < filas.size(); ++i)
            sentencia += (i ? ", (" : "(") + filas[i] + ")";
        ServidorPruebas::sql(sentencia);
    }

    static std::string esquemaReal;
};

std::string ConexionBDTest::esquemaReal;

struct CasoEleccion {
    const char* nombre;
    bool permisivo;
    std::vector<std::string> filas;   // SQL values: version, platform, notes, base URL
    int instalada;
    bool nueva;
    std::string esperado;             // number|platform|folder URL|notes
};

const std::vector<std::string> ejemplo = {
    "7, 'win32', 'siete', 'http://s/r'",   "9, 'linux', 'nueve', 'http://s/r'",
    "8, 'win32', 'notas A', 'http://a/r'", "8, 'win32', 'notas B', 'http://b/r'",
    "0, 'win32', 'cero', 'http://s/r'",
};

const CasoEleccion casosEleccion[] = {
    {"EjemploInstalada6", false, ejemplo, 6, true, "8|win32|http://a/r/win32/8|notas A"},
    {"EjemploInstalada8", false, ejemplo, 8, false, ""},
    {"EjemploInstalada9", false, ejemplo, 9, false, ""},
    {"TablaVacia", false, {}, 0, false, ""},
    {"SoloOtrasPlataformas", false,
     {"9, 'linux', 'n', 'b'", "9, 'WIN32', 'n', 'b'", "9, 'win32 ', 'n', 'b'", "9, 'win3', 'n', 'b'"},
     1, false, ""},
    {"IgualALaInstalada", false, {"10, 'win32', 'n', 'http://h'"}, 10, false, ""},
    {"UnaMasQueLaInstalada", false, {"11, 'win32', 'n', 'http://h'"}, 10, true,
     "11|win32|http://h/win32/11|n"},
    {"EmpateGanaLaPrimera", false,
     {"5, 'win32', 'primera', 'http://a'", "5, 'win32', 'segunda', 'http://b'",
      "4, 'win32', 'vieja', 'http://c'"},
     1, true, "5|win32|http://a/win32/5|primera"},
    {"LaMayorAunqueVengaDespues", false,
     {"3, 'win32', 'tres', 'http://a'", "12, 'win32', 'doce', 'http://b'",
      "4, 'win32', 'cuatro', 'http://c'"},
     1, true, "12|win32|http://b/win32/12|doce"},
    {"CeroNuncaSeElige", false, {"0, 'win32', 'n', 'http://h'"}, -1, false, ""},
    {"NegativoNuncaSeElige", false, {"-5, 'win32', 'n', 'http://h'"}, -10, false, ""},
    {"NegativoJuntoAUnaValida", false,
     {"-5, 'win32', 'menos', 'http://h'", "3, 'win32', 'tres', 'http://h'"}, 1, true,
     "3|win32|http://h/win32/3|tres"},
    {"NumeroMaximo", false, {"2147483647, 'win32', 'max', 'http://h'"}, 305062, true,
     "2147483647|win32|http://h/win32/2147483647|max"},
    {"TextoNoNumerico", true, {"'abc', 'win32', 'n', 'http://h'"}, -1, false, ""},
    {"TextoNoNumericoJuntoAUnaValida", true,
     {"'abc', 'win32', 'letras', 'http://h'", "'4', 'win32', 'cuatro', 'http://h'"}, 1, true,
     "4|win32|http://h/win32/4|cuatro"},
    {"TextoConCifrasDelante", true, {"' 12abc', 'win32', 'n', 'http://h'"}, 1, true,
     "12|win32|http://h/win32/12|n"},
    {"FueraDelRangoDe32Bits", true,
     {"'99999999999', 'win32', 'enorme', 'http://h'", "'7', 'win32', 'siete', 'http://h'"}, 1,
     true, "7|win32|http://h/win32/7|siete"},
    {"SoloFueraDelRango", true, {"'2147483648', 'win32', 'n', 'http://h'"}, 1, false, ""},
    {"VersionNula", true,
     {"NULL, 'win32', 'nula', 'http://h'", "3, 'win32', 'tres', 'http://h'"}, 1, true,
     "3|win32|http://h/win32/3|tres"},
    {"SoloVersionNula", true, {"NULL, 'win32', 'n', 'http://h'"}, -1, false, ""},
    {"NotasNulas", true, {"8, 'win32', NULL, 'http://h'"}, 1, true, "8|win32|http://h/win32/8|"},
    {"BaseNula", true, {"8, 'win32', 'n', NULL"}, 1, true, "8|win32|/win32/8|n"},
    {"PlataformaNula", true, {"8, NULL, 'n', 'http://h'"}, 1, false, ""},
};

// Test names and failure reports show the case's name, not its bytes.
void PrintTo(const CasoEleccion& caso, std::ostream* salida)
{
    *salida << caso.nombre;
}

class ConexionBDEleccionTest : public ConexionBDTest,
                     public testing::WithParamInterface<CasoEleccion> {};

TEST_P(ConexionBDEleccionTest, FilaElegidaPorLaBaseReal)
{
    const CasoEleccion& caso = GetParam();
    if (caso.permisivo)
        esquemaPermisivo();
    insertar(caso.filas);
    // The choice depends on the server's row order: for this plain select it is insert order.
    const auto filas = consultar(std::string("select * from ") + tabla);
    ASSERT_EQ(filas.size(), caso.filas.size());
    for (size_t i = 1; i < filas.size(); ++i)
        ASSERT_LT(std::stoul(filas[i - 1][0]), std::stoul(filas[i][0])) << "rows out of insert order";

    ConexionBD conexion;
    InstallTarsenvik fila;
    rellenarCentinela(fila);
    const Llamada llamada = llamar(conexion, caso.instalada, fila);
    EXPECT_EQ(llamada.resultado, caso.nueva);
    EXPECT_EQ(llamada.errores, "");
    if (caso.nueva) {
        EXPECT_EQ(resumen(fila), caso.esperado);
        EXPECT_EQ(llamada.salida, fila.getPathXmlListado() + "\n");
    } else {
        EXPECT_EQ(resumen(fila), centinela);
        EXPECT_EQ(llamada.salida, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Casos, ConexionBDEleccionTest, testing::ValuesIn(casosEleccion),
                         [](const testing::TestParamInfo<CasoEleccion>& info) {
                             return std::string(info.param.nombre);
                         });

TEST_F(ConexionBDTest, SalidaDeConsola)
{
    const struct {
        const char* caso;
        const char* base;
        int instalada;
        const char* salida;
    } casos[] = {
        {"new release", "http://h/r", 1, "http://h/r/win32/8\n"},
        {"base URL ending in a slash", "http://h/r/", 1, "http://h/r//win32/8\n"},
        {"nothing newer", "http://h/r", 8, ""},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        restaurarTabla();
        ServidorPruebas::insertarVersion(8, "win32", "notas", caso.base);
        ConexionBD conexion;
        InstallTarsenvik fila;
        const Llamada llamada = llamar(conexion, caso.instalada, fila);
        EXPECT_EQ(llamada.salida, caso.salida);
        EXPECT_EQ(llamada.errores, "");
    }
}

TEST_F(ConexionBDTest, LosFallosDejanLaFilaIntacta)
{
    const int puerto = puertoBaseDatos();
    struct {
        const char* caso;
        std::string preparar;
        ConexionBD conexion;
    } casos[] = {
        {"server down", "", conexionCon("tarsenvik_update", "quarbelNightfox", puertoLibre())},
        {"wrong password", "", conexionCon("tarsenvik_update", "otraClave", puerto)},
        {"database missing", "", conexionCon("no_existe", "quarbelNightfox", puerto)},
        {"table missing", std::string("RENAME TABLE ") + tabla + " TO " + tablaApartada,
         ConexionBD()},
        {"notes column missing", std::string("ALTER TABLE ") + tabla + " DROP COLUMN t_descripcion",
         ConexionBD()},
        {"version column renamed",
         std::string("ALTER TABLE ") + tabla + " CHANGE t_version t_numero INT NOT NULL",
         ConexionBD()},
    };
    for (auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        restaurarTabla();
        // A row that would be offered if the query went through.
        ServidorPruebas::insertarVersion(9, "win32", "nueve", "http://h");
        if (!caso.preparar.empty())
            ServidorPruebas::sql(caso.preparar);

        InstallTarsenvik fila;
        rellenarCentinela(fila);
        const Llamada llamada = llamar(caso.conexion, 1, fila);
        EXPECT_FALSE(llamada.resultado);
        EXPECT_EQ(resumen(fila), centinela);
        EXPECT_EQ(llamada.salida, "");
        EXPECT_EQ(llamada.errores.rfind(prefijoError, 0), 0u) << llamada.errores;
        EXPECT_GT(llamada.errores.size(), std::string(prefijoError).size() + 1);
        EXPECT_EQ(std::count(llamada.errores.begin(), llamada.errores.end(), '\n'), 1);
        EXPECT_EQ(llamada.errores.back(), '\n');
    }
}

// Accepts connections and never writes a byte: a server hung after the handshake.
class ServidorMudo {
public:
    ServidorMudo()
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
                ++aceptadas;
                clientes.push_back(cliente);
            }
        });
    }
    ~ServidorMudo()
    {
        shutdown(escucha, SHUT_RDWR);
        hilo.join();
        close(escucha);
        for (const int cliente : clientes)
            close(cliente);
    }
    int getPuerto() const { return puerto; }
    int getAceptadas() const { return aceptadas; }

private:
    int escucha;
    int puerto;
    std::atomic<int> aceptadas{0};
    std::vector<int> clientes;   // touched by the thread only until the join
    std::thread hilo;
};

TEST_F(ConexionBDTest, UnServidorQueNoContestaNoRetieneAlLauncher)
{
    const ServidorMudo mudo;
    ConexionBD conexion = conexionCon("tarsenvik_update", "quarbelNightfox", mudo.getPuerto());
    InstallTarsenvik fila;
    rellenarCentinela(fila);

    const auto inicio = std::chrono::steady_clock::now();
    const Llamada llamada = llamar(conexion, 1, fila);
    const auto duracion = std::chrono::steady_clock::now() - inicio;

    EXPECT_EQ(mudo.getAceptadas(), 1);
    EXPECT_FALSE(llamada.resultado);
    EXPECT_EQ(resumen(fila), centinela);
    EXPECT_EQ(llamada.salida, "");
    EXPECT_EQ(llamada.errores.rfind(prefijoError, 0), 0u) << llamada.errores;
    EXPECT_LT(duracion, std::chrono::seconds(3 * ConexionBD::segundosEspera));
}

TEST_F(ConexionBDTest, LaCuentaDelLauncherSoloLee)
{
    ServidorPruebas::insertarVersion(9, "win32", "nueve", "http://h");
    mysqlpp::Connection conexion(false);
    ASSERT_TRUE(conexion.connect("tarsenvik_update", "127.0.0.1", "tarsenvikUpdate",
                                 "quarbelNightfox", static_cast<unsigned int>(puertoBaseDatos())))
        << conexion.error();
    {
        mysqlpp::Query lectura = conexion.query("select * from tarsenvik_version");
        EXPECT_EQ(lectura.store().num_rows(), 1u) << lectura.error();
    }
    const char* const sentencias[] = {
        "INSERT INTO tarsenvik_version (t_version, t_plataforma, t_descripcion, "
        "t_path_fichero_xml) VALUES (99, 'win32', 'x', 'http://x')",
        "UPDATE tarsenvik_version SET t_version = 99",
        "DELETE FROM tarsenvik_version",
        "REPLACE INTO tarsenvik_version (id, t_version, t_plataforma, t_descripcion, "
        "t_path_fichero_xml) VALUES (1, 99, 'win32', 'x', 'http://x')",
        "TRUNCATE TABLE tarsenvik_version",
        "DROP TABLE tarsenvik_version",
        "ALTER TABLE tarsenvik_version ADD COLUMN x INT",
        "CREATE TABLE otra (x INT)",
    };
    for (const char* sentencia : sentencias) {
        SCOPED_TRACE(sentencia);
        mysqlpp::Query consulta = conexion.query(sentencia);
        EXPECT_FALSE(consulta.exec());
    }
    EXPECT_EQ(consultar("select t_version, t_plataforma, t_descripcion, t_path_fichero_xml "
                        "from tarsenvik_version"),
              (std::vector<std::vector<std::string>>{{"9", "win32", "nueve", "http://h"}}));
    EXPECT_FALSE(existeTabla("otra"));
}

TEST(ConexionBDSinServidorTest, LecturaDelNumero)
{
    const struct {
        std::string texto;
        bool nulo;
        int numero;
    } casos[] = {
        {"305062", false, 305062},
        {"0", false, 0},
        {"", false, 0},
        {"  42", false, 42},
        {"\t\n 7", false, 7},
        {"+5", false, 5},
        {"-3", false, -3},
        {"12abc", false, 12},
        {"abc", false, 0},
        {"- 5", false, 0},
        {"--5", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 1},
        {"007", false, 7},
        {"2147483647", false, INT_MAX},
        {"-2147483648", false, INT_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
        {"99999999999999999999999999", false, 0},
        {"5", true, 0},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE("\"" + caso.texto + "\"" + (caso.nulo ? " NULL" : ""));
        EXPECT_EQ(ConexionBD::leerVersion(caso.texto, caso.nulo), caso.numero);
    }
}

TEST(ConexionBDSinServidorTest, EleccionDeFila)
{
    using Filas = std::vector<ConexionBD::FilaVersion>;
    const auto fila = [](const std::string& version, const std::string& plataforma,
                         bool nula = false) {
        ConexionBD::FilaVersion f;
        f.version = version;
        f.versionNula = nula;
        f.plataforma = plataforma;
        return f;
    };
    const struct {
        const char* caso;
        Filas filas;
        long elegida;
    } casos[] = {
        {"worked example",
         {fila("7", "win32"), fila("9", "x"), fila("8", "win32"), fila("8", "win32"),
          fila("0", "win32")},
         2},
        {"empty", {}, -1},
        {"other platforms only", {fila("9", "linux"), fila("9", "WIN32"), fila("9", "win32 ")}, -1},
        {"tie: first wins", {fila("5", "win32"), fila("5", "win32")}, 0},
        {"greatest comes last", {fila("3", "win32"), fila("4", "win32"), fila("10", "win32")}, 2},
        {"zero and negative never", {fila("0", "win32"), fila("-3", "win32")}, -1},
        {"text reads as 0", {fila("abc", "win32"), fila(" 2x", "win32")}, 1},
        {"out of range never", {fila("2147483648", "win32"), fila("1", "win32")}, 1},
        {"NULL never", {fila("9", "win32", true), fila("1", "win32")}, 1},
        {"largest int", {fila("2147483646", "win32"), fila("2147483647", "win32")}, 1},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        EXPECT_EQ(ConexionBD::elegirFila(caso.filas, "win32"), caso.elegida);
    }
}

} // namespace
