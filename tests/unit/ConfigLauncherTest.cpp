#include "transfer/ConfigLauncher.h"

#include "support/EntornoPruebas.h"
#include "ui/UtilesLauncher.h"

#include <ConfiguracionCompilacion.h>
#include <glibmm/miscutils.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace EntornoPruebas;

namespace {

const std::string direccionDefecto = std::string("http://")
                                     + ConfiguracionCompilacion::servidorActualizaciones
                                     + ":8080/dbMorvane4/updateTarsenvik";

std::string bytesLE(std::int32_t numero)
{
    std::string bytes(4, '\0');
    for (int b = 0; b < 4; ++b)
        bytes[b] = static_cast<char>((static_cast<std::uint32_t>(numero) >> (8 * b)) & 0xff);
    return bytes;
}

// The 156-byte image: number, address, then `relleno` repeated up to the end.
std::string imagen(std::int32_t numero, const std::string& direccion, char relleno = '\0')
{
    std::string contenido = bytesLE(numero) + direccion + '\0';
    contenido.resize(156, relleno);
    return contenido;
}

struct Sello {
    ino_t inodo = 0;
    timespec modificado{};
    bool operator==(const Sello& otro) const
    {
        return inodo == otro.inodo && modificado.tv_sec == otro.modificado.tv_sec
               && modificado.tv_nsec == otro.modificado.tv_nsec;
    }
};

Sello sello(const std::string& ruta)
{
    struct stat datos {};
    Sello resultado;
    if (stat(ruta.c_str(), &datos) == 0) {
        resultado.inodo = datos.st_ino;
        resultado.modificado = datos.st_mtim;
    }
    return resultado;
}

std::vector<std::string> nombresEn(const std::string& carpeta)
{
    std::vector<std::string> nombres;
    std::error_code error;
    for (const auto& entrada : fs::directory_iterator(carpeta, error))
        nombres.push_back(entrada.path().filename().string());
    std::sort(nombres.begin(), nombres.end());
    return nombres;
}

// GLib reads XDG_CONFIG_HOME once per process and keeps the answer, so the
// tests share one user configuration folder, emptied before every test.
const std::string& configuracionUsuario()
{
    static const CarpetaTemporal carpeta;
    static const std::string ruta = carpeta / "config";
    static const VariableTemporal variable("XDG_CONFIG_HOME", ruta);
    return ruta;
}

class ConfigLauncherTest : public testing::Test {
protected:
    void SetUp() override { empezarDeCero(); }

    // An empty user configuration folder, as on a new account.
    void empezarDeCero()
    {
        std::error_code error;
        fs::remove_all(configuracion, error);
        fs::create_directories(configuracion);
        ASSERT_EQ(Glib::get_user_config_dir(), configuracion)
            << "something read the configuration folder before these tests";
    }

    const std::string configuracion = configuracionUsuario();
    const std::string carpetaAjustes = configuracion + "/tarsenviklauncher";
    const std::string carpetaCache = configuracion + "/datosTarsenvik";
    const std::string fichero = carpetaAjustes + "/datosVersion1.dat";
};

TEST_F(ConfigLauncherTest, PrimerArranqueCreaCarpetasYFichero)
{
    testing::internal::CaptureStdout();
    const ConfigLauncher ajustes;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_TRUE(fs::is_directory(carpetaAjustes));
    EXPECT_TRUE(fs::is_directory(carpetaCache));
    EXPECT_EQ(nombresEn(carpetaAjustes), std::vector<std::string>{"datosVersion1.dat"});
    EXPECT_TRUE(nombresEn(carpetaCache).empty());
    EXPECT_EQ(leerFichero(fichero), imagen(2, direccionDefecto));
    EXPECT_EQ(ajustes.getVersion(), 2);
    EXPECT_EQ(ajustes.getDireccion(), direccionDefecto);
    EXPECT_EQ(ConfigLauncher::direccionPorDefecto(), direccionDefecto);
    EXPECT_EQ(UtilesLauncher::direccionConfig("datosVersion1.dat"), fichero);
    EXPECT_EQ(UtilesLauncher::direccionCache("a.dll"), carpetaCache + "/a.dll");
}

// Whatever the file holds, start-up loads it and never writes it back.
TEST_F(ConfigLauncherTest, UnFicheroExistenteSeCargaSinReescribirlo)
{
    const std::string sinNul = bytesLE(7) + std::string(152, 'a');
    const struct {
        const char* caso;
        std::string contenido;
        int version;
        std::string direccion;
    } casos[] = {
        {"whole file, padding kept as it is", imagen(305100, "http://otro/ws", '\x7f'), 305100,
         "http://otro/ws"},
        {"negative number", imagen(-5, ""), -5, ""},
        {"empty file", "", 0, ""},
        {"two bytes", "\x39\x30", 0x3039, ""},
        {"six bytes", bytesLE(9) + "ab", 9, "ab"},
        {"longer than the record", imagen(11, "http://h/ws") + "COLA", 11, "http://h/ws"},
        {"address without its NUL", sinNul, 7, std::string(151, 'a')},
        {"no NUL, longer than the record", sinNul + "COLA", 7, std::string(151, 'a')},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        empezarDeCero();
        fs::create_directories(carpetaAjustes);
        escribirFichero(fichero, caso.contenido);
        const Sello antes = sello(fichero);

        testing::internal::CaptureStdout();
        const ConfigLauncher ajustes;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        EXPECT_EQ(ajustes.getVersion(), caso.version);
        const std::string direccion = ajustes.getDireccion();
        // Never more than the field holds, whatever follows it in the file.
        EXPECT_LE(direccion.size(), 152u);
        EXPECT_EQ(direccion.substr(0, caso.direccion.size()), caso.direccion);
        EXPECT_EQ(direccion.find("COLA"), std::string::npos);
        EXPECT_EQ(leerFichero(fichero), caso.contenido);
        EXPECT_TRUE(sello(fichero) == antes) << "the settings file was rewritten";
        EXPECT_EQ(nombresEn(carpetaAjustes), std::vector<std::string>{"datosVersion1.dat"});
    }
}

TEST_F(ConfigLauncherTest, UnFicheroOcupandoUnaCarpetaSeSustituye)
{
    for (const std::string& carpeta : {carpetaAjustes, carpetaCache}) {
        SCOPED_TRACE(carpeta);
        empezarDeCero();
        escribirFichero(carpeta, "no soy una carpeta");

        testing::internal::CaptureStdout();
        const ConfigLauncher ajustes;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        EXPECT_TRUE(fs::is_directory(carpetaAjustes));
        EXPECT_TRUE(fs::is_directory(carpetaCache));
        EXPECT_EQ(leerFichero(fichero), imagen(2, direccionDefecto));
    }
}

TEST_F(ConfigLauncherTest, SinCarpetaDeConfiguracionSigueAdelante)
{
    fs::remove_all(configuracion);

    testing::internal::CaptureStdout();
    const ConfigLauncher ajustes;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error while creating the folder\nError while creating the folder\n");

    EXPECT_EQ(ajustes.getVersion(), 2);
    EXPECT_EQ(ajustes.getDireccion(), direccionDefecto);
    EXPECT_FALSE(existe(configuracion));
}

TEST_F(ConfigLauncherTest, UnaCarpetaEnLugarDelFicheroDaLosValoresPorDefecto)
{
    fs::create_directories(fichero + "/dentro");

    testing::internal::CaptureStdout();
    const ConfigLauncher ajustes;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_EQ(ajustes.getVersion(), 2);
    EXPECT_EQ(ajustes.getDireccion(), direccionDefecto);
    EXPECT_TRUE(fs::is_directory(fichero + "/dentro"));
    EXPECT_EQ(nombresEn(carpetaAjustes), std::vector<std::string>{"datosVersion1.dat"});
}

TEST_F(ConfigLauncherTest, IdaYVueltaDelNumero)
{
    ConfigLauncher ajustes;
    const CarpetaTemporal carpeta;
    const std::string ruta = carpeta / "datosVersion1.dat";
    for (const int numero : {0, 1, -1, 305062, 0x01020304, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(numero);
        ajustes.setVersion(numero);
        ASSERT_TRUE(ajustes.escribFichConfig(ruta, ajustes));
        EXPECT_EQ(leerFichero(ruta), imagen(numero, direccionDefecto));
        // The write leaves nothing else behind.
        EXPECT_EQ(nombresEn(carpeta.ruta()), std::vector<std::string>{"datosVersion1.dat"});

        ConfigLauncher leido;
        ASSERT_TRUE(leido.leerFichConfig(ruta, leido));
        EXPECT_EQ(leido.getVersion(), numero);
        EXPECT_EQ(leido.getDireccion(), direccionDefecto);
    }
}

// Reading into a record that already holds values replaces only the bytes the file has.
TEST_F(ConfigLauncherTest, LeerSobreUnRegistroCargado)
{
    const CarpetaTemporal carpeta;
    const std::string cargado = carpeta / "cargado.dat";
    escribirFichero(cargado, imagen(0x11223344, "http://viejo/ws"));
    const struct {
        const char* caso;
        bool existe;
        std::string contenido;
        bool leido;
        int version;
        std::string direccion;
    } casos[] = {
        {"missing file", false, "", false, 0x11223344, "http://viejo/ws"},
        {"empty file", true, "", true, 0x11223344, "http://viejo/ws"},
        {"two bytes", true, "\xaa\xbb", true, 0x1122bbaa, "http://viejo/ws"},
        {"six bytes", true, bytesLE(9) + "ab", true, 9, "abtp://viejo/ws"},
        {"whole file", true, imagen(-3, "x"), true, -3, "x"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        ConfigLauncher registro;
        ASSERT_TRUE(registro.leerFichConfig(cargado, registro));
        const std::string ruta = carpeta / "leer.dat";
        fs::remove(ruta);
        if (caso.existe)
            escribirFichero(ruta, caso.contenido);
        EXPECT_EQ(registro.leerFichConfig(ruta, registro), caso.leido);
        EXPECT_EQ(registro.getVersion(), caso.version);
        EXPECT_EQ(registro.getDireccion(), caso.direccion);
    }
}

// Lowers the largest file this process may write, for the life of the object.
class LimiteEscritura {
public:
    explicit LimiteEscritura(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &anterior);
        // Beyond the limit a write is cut short instead of killing the process.
        senalAnterior = signal(SIGXFSZ, SIG_IGN);
        rlimit limite = anterior;
        limite.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limite);
    }
    ~LimiteEscritura()
    {
        setrlimit(RLIMIT_FSIZE, &anterior);
        signal(SIGXFSZ, senalAnterior);
    }

private:
    rlimit anterior{};
    void (*senalAnterior)(int);
};

TEST_F(ConfigLauncherTest, EscribirEsTodoONada)
{
    ConfigLauncher ajustes;
    ajustes.setVersion(305070);
    const CarpetaTemporal carpeta;
    const std::string viejo = imagen(305062, "http://viejo/ws", 'p');
    const std::string ruta = carpeta / "datosVersion1.dat";

    // A write cut short after 100 bytes must leave the old file as it was.
    escribirFichero(ruta, viejo);
    {
        const LimiteEscritura limite(100);
        EXPECT_FALSE(ajustes.escribFichConfig(ruta, ajustes));
    }
    EXPECT_EQ(leerFichero(ruta), viejo);
    EXPECT_EQ(nombresEn(carpeta.ruta()), std::vector<std::string>{"datosVersion1.dat"});

    // A folder in the file's place, and a folder that does not exist.
    fs::create_directories(carpeta / "carpeta.dat/dentro");
    EXPECT_FALSE(ajustes.escribFichConfig(carpeta / "carpeta.dat", ajustes));
    EXPECT_TRUE(fs::is_directory(carpeta / "carpeta.dat/dentro"));
    EXPECT_FALSE(ajustes.escribFichConfig(carpeta / "no-existe/datosVersion1.dat", ajustes));
    EXPECT_FALSE(existe(carpeta / "no-existe"));
    EXPECT_EQ(nombresEn(carpeta.ruta()),
              (std::vector<std::string>{"carpeta.dat", "datosVersion1.dat"}));

    // Without the limit the same write replaces the file whole.
    EXPECT_TRUE(ajustes.escribFichConfig(ruta, ajustes));
    EXPECT_EQ(leerFichero(ruta), imagen(305070, direccionDefecto));
    EXPECT_EQ(ajustes.getVersion(), 305070);
}

TEST(ConfigCarpetasTest, SoloBorraFicherosNormales)
{
    const CarpetaTemporal carpeta;
    fs::create_directories(carpeta / "carpeta/dentro");
    escribirFichero(carpeta / "fichero.dll", "x");
    const struct {
        std::string ruta;
        bool existeDespues;
    } casos[] = {
        {carpeta / "carpeta", true},
        {carpeta / "no-existe", false},
        {carpeta / "fichero.dll", false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.ruta);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(UtilesLauncher::borraFicheroSistema(caso.ruta));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(existe(caso.ruta), caso.existeDespues);
    }
    EXPECT_TRUE(existe(carpeta / "carpeta/dentro"));
}

} // namespace
