#include "release/InstaladorVersion.h"
#include "release/InstallTarsenvik.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Entradas = std::vector<std::pair<std::string, std::string>>;

Entradas entradas(const InstaladorVersion& instalador)
{
    Entradas lista;
    for (int i = 0; i < instalador.getNumFicheros(); ++i)
        lista.emplace_back(instalador.getNombreFichero(i), instalador.getRutaFichero(i));
    return lista;
}

// What the release check reads: works on an installer through its base.
std::string resumen(const InstallTarsenvik& fila)
{
    return std::to_string(fila.getUltimaVersion()) + "|" + fila.getPlataforma() + "|"
           + fila.getPathXmlListado() + "|" + fila.getDescripcionActualizacion();
}

TEST(RegistrosTest, ValoresIniciales)
{
    const InstallTarsenvik fila;
    EXPECT_EQ(resumen(fila), "0|||");

    const InstaladorVersion instalador(305070, "win32", "http://h/r/win32/305070",
                                       "Notas \xc3\xb1 \n l\xc3\xadnea 2");
    EXPECT_EQ(resumen(instalador), "305070|win32|http://h/r/win32/305070|Notas \xc3\xb1 \n l\xc3\xadnea 2");
    EXPECT_EQ(instalador.getNumFicheros(), 0);
    EXPECT_TRUE(instalador.entradasSeguras());
}

TEST(RegistrosTest, FicherosEnOrdenConDuplicadosYVacios)
{
    InstaladorVersion instalador(8, "win32", "u", "d");
    instalador.anadirFichero("A.dll", "X/");
    instalador.anadirFichero("B.dat", "Y/z/");
    instalador.anadirFichero("A.dll", "X/");
    instalador.anadirFichero("", "");
    instalador.anadirFichero("sinRuta.txt", "");
    EXPECT_EQ(entradas(instalador), (Entradas{{"A.dll", "X/"},
                                              {"B.dat", "Y/z/"},
                                              {"A.dll", "X/"},
                                              {"", ""},
                                              {"sinRuta.txt", ""}}));
    // No caller goes past the end; the record answers with empty texts.
    EXPECT_EQ(instalador.getNombreFichero(5), "");
    EXPECT_EQ(instalador.getRutaFichero(-1), "");
}

TEST(RegistrosTest, LasCopiasSonIndependientes)
{
    InstallTarsenvik origen;
    origen.setUltimaVersion(305062);
    origen.setPlataforma("win32");
    origen.setPathXmlListado("http://h/r//win32/305062 ");
    origen.setDescripcionActualizacion(std::string("a\0b", 3));

    InstallTarsenvik copia = origen;
    copia.setUltimaVersion(1);
    copia.setPlataforma("linux");
    copia.setPathXmlListado("");
    copia.setDescripcionActualizacion("otra");
    // Setters keep values exactly: trailing blanks, doubled slashes, NUL bytes.
    EXPECT_EQ(resumen(origen),
              "305062|win32|http://h/r//win32/305062 |" + std::string("a\0b", 3));
    EXPECT_EQ(resumen(copia), "1|linux||otra");

    InstallTarsenvik asignada;
    asignada = origen;
    origen.setUltimaVersion(2);
    EXPECT_EQ(asignada.getUltimaVersion(), 305062);

    InstaladorVersion instalador(9, "win32", "u", "d");
    instalador.anadirFichero("a", "r/");
    InstaladorVersion otro = instalador;
    otro.anadirFichero("b", "");
    otro.setDescripcionActualizacion("cambiada");
    EXPECT_EQ(entradas(instalador), (Entradas{{"a", "r/"}}));
    EXPECT_EQ(instalador.getDescripcionActualizacion(), "d");
    EXPECT_EQ(otro.getNumFicheros(), 2);
}

TEST(RegistrosTest, NombresSeguros)
{
    const struct {
        std::string nombre;
        bool seguro;
    } casos[] = {
        {"ok.txt", true},
        {"..hidden", true},
        {"a..b", true},
        {"...", true},
        {"con espacios.dll", true},
        {"caf\xc3\xa9.txt", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"a\\b", false},
        {"../x", false},
        {"..\\x", false},
        {"/etc", false},
        {"x/", false},
        {std::string("a\0b", 3), false},
        {std::string("ok.txt\0", 7), false},
        {std::string("\0", 1), false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE("name \"" + caso.nombre + "\" (" + std::to_string(caso.nombre.size())
                     + " bytes)");
        EXPECT_EQ(InstaladorVersion::nombreSeguro(caso.nombre), caso.seguro);
    }
}

TEST(RegistrosTest, RutasSeguras)
{
    const struct {
        std::string ruta;
        bool segura;
    } casos[] = {
        {"", true},
        {"plugins/", true},
        {"data/maps/", true},
        {"data\\maps\\", true},
        {"..hidden/", true},
        {"a/.../", true},
        {"./", true},
        {"a//b/", true},
        {"/etc/", false},
        {"/", false},
        {"\\x", false},
        {"C:/x", false},
        {"c:\\x\\", false},
        {"C:", false},
        {"..", false},
        {"../", false},
        {"..\\x", false},
        {"a/../", false},
        {"a/..", false},
        {"a\\..\\b\\", false},
        {"a/..\\", false},
        {"x/../../", false},
        {std::string("a\0/", 3), false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE("folder \"" + caso.ruta + "\" (" + std::to_string(caso.ruta.size())
                     + " bytes)");
        EXPECT_EQ(InstaladorVersion::rutaSegura(caso.ruta), caso.segura);
    }
}

TEST(RegistrosTest, UnaEntradaInseguraBastaParaRechazarLaLista)
{
    const struct {
        const char* caso;
        Entradas lista;
        bool seguras;
    } casos[] = {
        {"all fine", {{"a.dll", ""}, {"b.dat", "data/"}, {"c.png", "src/Iconos/"}}, true},
        {"bad name last", {{"a.dll", ""}, {"b.dat", "data/"}, {"..", ""}}, false},
        {"bad folder first", {{"a.dll", "../"}, {"b.dat", "data/"}}, false},
        {"empty name", {{"a.dll", ""}, {"", "data/"}}, false},
        {"absolute folder", {{"a.dll", "/usr/bin/"}}, false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        InstaladorVersion instalador(1, "win32", "u", "d");
        for (const auto& entrada : caso.lista)
            instalador.anadirFichero(entrada.first, entrada.second);
        EXPECT_EQ(instalador.entradasSeguras(), caso.seguras);
        // Checking changes nothing in the list.
        EXPECT_EQ(entradas(instalador), caso.lista);
    }
}

} // namespace
