#include "support/ServidorPruebas.h"

#include "support/EntornoPruebas.h"

#include <gtest/gtest.h>
#include <mysql++.h>

#include <cstdlib>

using namespace EntornoPruebas;

namespace {

// Stops the server this process started itself, when the process ends.
std::string ordenParada;

void pararServidorPropio()
{
    if (!ordenParada.empty())
        ejecutar(ordenParada);
}

bool servidorResponde()
{
    mysqlpp::Connection conexion(false);
    return conexion.connect("tarsenvik_update", ServidorPruebas::socket().c_str(), "root", "");
}

} // namespace

std::string ServidorPruebas::socket() { return carpetaServidor() + "/mysqld.sock"; }
std::string ServidorPruebas::carpetaWww() { return carpetaServidor() + "/www"; }
std::string ServidorPruebas::urlBase()
{
    return "http://127.0.0.1:" + std::to_string(puertoHttp());
}

bool ServidorPruebas::asegurarServidor()
{
    if (servidorResponde())
        return true;
    const int resultado = ejecutar(carpetaFuentes() + "/server/start --dir '" + carpetaServidor()
                                   + "' --db-port " + std::to_string(puertoBaseDatos())
                                   + " --http-port " + std::to_string(puertoHttp())
                                   + " >/dev/null");
    if (resultado != 0) {
        ADD_FAILURE() << "server/start failed with " << resultado;
        return false;
    }
    if (ordenParada.empty()) {
        ordenParada = carpetaFuentes() + "/server/stop --dir '" + carpetaServidor()
                      + "' --purge >/dev/null 2>&1";
        std::atexit(pararServidorPropio);
    }
    return servidorResponde();
}

bool ServidorPruebas::sql(const std::string& sentencias)
{
    mysqlpp::Connection conexion(false);
    conexion.set_option(new mysqlpp::MultiStatementsOption(true));
    if (!conexion.connect("tarsenvik_update", socket().c_str(), "root", "")) {
        ADD_FAILURE() << "cannot log in as root: " << conexion.error();
        return false;
    }
    mysqlpp::Query consulta = conexion.query(sentencias);
    if (!consulta.exec()) {
        ADD_FAILURE() << "SQL failed: " << consulta.error() << "\n" << sentencias;
        return false;
    }
    while (consulta.more_results())
        consulta.store_next();
    return true;
}

void ServidorPruebas::vaciarVersiones()
{
    sql("DELETE FROM tarsenvik_version");
}

void ServidorPruebas::insertarVersion(int version, const std::string& plataforma,
                                      const std::string& descripcion, const std::string& base)
{
    mysqlpp::Connection conexion(false);
    if (!conexion.connect("tarsenvik_update", socket().c_str(), "root", "")) {
        ADD_FAILURE() << "cannot log in as root: " << conexion.error();
        return;
    }
    mysqlpp::Query consulta = conexion.query();
    consulta << "INSERT INTO tarsenvik_version (t_version, t_plataforma, t_descripcion, "
                "t_path_fichero_xml) VALUES ("
             << version << ", " << mysqlpp::quote << plataforma << ", " << mysqlpp::quote
             << descripcion << ", " << mysqlpp::quote << base << ")";
    if (!consulta.exec())
        ADD_FAILURE() << "INSERT failed: " << consulta.error();
}

int ServidorPruebas::publicar(const std::string& carpeta, int version, const std::string& notas)
{
    const std::string notasFichero = carpeta + ".notas";
    escribirFichero(notasFichero, notas);
    return ejecutar(carpetaFuentes() + "/server/publish --dir '" + carpetaServidor()
                    + "' --release " + std::to_string(version) + " --notes-file '" + notasFichero
                    + "' '" + carpeta + "' >/dev/null");
}
