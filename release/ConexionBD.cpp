#include "release/ConexionBD.h"

#include "release/InstallTarsenvik.h"
#include "ui/UtilesLauncher.h"

#include <ConfiguracionCompilacion.h>
#include <mysql++.h>

#include <strings.h>

#include <cctype>
#include <climits>
#include <iostream>
#include <utility>

namespace {

const char* const prefijoError = "Failed to get item list: ";
const char* const columnasRequeridas[] = {"t_version", "t_plataforma", "t_descripcion",
                                          "t_path_fichero_xml"};

int columna(const mysqlpp::StoreQueryResult& resultado, const char* nombre)
{
    for (size_t i = 0; i < resultado.num_fields(); ++i) {
        if (strcasecmp(resultado.field_name(static_cast<int>(i)).c_str(), nombre) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// MySQL++ renders NULL as the text "NULL"; an absent value is an empty text to us.
std::string texto(const mysqlpp::String& valor)
{
    if (valor.is_null())
        return std::string();
    return std::string(valor.data(), valor.length());
}

} // namespace

ConexionBD::ConexionBD()
    : baseDatos("tarsenvik_update"),
      servidor(ConfiguracionCompilacion::servidorActualizaciones),
      usuario("tarsenvikUpdate"),
      clave("quarbelNightfox"),
      puerto(ConfiguracionCompilacion::puertoBaseDatos)
{
}

ConexionBD::ConexionBD(std::string baseDatos, std::string servidor, std::string usuario,
                       std::string clave, unsigned int puerto)
    : baseDatos(std::move(baseDatos)),
      servidor(std::move(servidor)),
      usuario(std::move(usuario)),
      clave(std::move(clave)),
      puerto(puerto)
{
}

ConexionBD::~ConexionBD() = default;

int ConexionBD::leerVersion(const std::string& texto, bool nulo)
{
    if (nulo)
        return 0;
    // atoi's reading (blanks, sign, digits), without its undefined overflow.
    size_t i = 0;
    while (i < texto.size() && std::isspace(static_cast<unsigned char>(texto[i])))
        ++i;
    bool negativo = false;
    if (i < texto.size() && (texto[i] == '+' || texto[i] == '-')) {
        negativo = texto[i] == '-';
        ++i;
    }
    long long valor = 0;
    for (; i < texto.size() && std::isdigit(static_cast<unsigned char>(texto[i])); ++i) {
        valor = valor * 10 + (texto[i] - '0');
        if (valor > static_cast<long long>(INT_MAX) + 1)
            return 0;
    }
    if (negativo)
        valor = -valor;
    if (valor > INT_MAX || valor < INT_MIN)
        return 0;
    return static_cast<int>(valor);
}

long ConexionBD::elegirFila(const std::vector<FilaVersion>& filas, const std::string& plataforma)
{
    int mejor = 0;
    long elegida = -1;
    for (size_t i = 0; i < filas.size(); ++i) {
        const int numero = leerVersion(filas[i].version, filas[i].versionNula);
        if (numero > mejor && filas[i].plataforma.compare(plataforma) == 0) {
            mejor = numero;
            elegida = static_cast<long>(i);
        }
    }
    return elegida;
}

bool ConexionBD::obtenerDatosBD(std::string plataforma, int versionInstalada,
                                InstallTarsenvik& fila)
{
    mysqlpp::Connection conexion(false);
    // Both are needed: the connect timeout alone does not bound the handshake,
    // and the read timeout also bounds the query.
    conexion.set_option(new mysqlpp::ConnectTimeoutOption(segundosEspera));
    conexion.set_option(new mysqlpp::ReadTimeoutOption(segundosEspera));
    conexion.set_option(new mysqlpp::WriteTimeoutOption(segundosEspera));
    if (!conexion.connect(baseDatos.c_str(), servidor.c_str(), usuario.c_str(), clave.c_str(),
                          puerto)) {
        std::cerr << prefijoError << conexion.error() << std::endl;
        return false;
    }

    std::vector<FilaVersion> filas;
    std::vector<std::pair<std::string, std::string>> textos;
    try {
        mysqlpp::Query consulta = conexion.query("select * from tarsenvik_version");
        const mysqlpp::StoreQueryResult resultado = consulta.store();
        if (!resultado) {
            std::cerr << prefijoError << consulta.error() << std::endl;
            return false;
        }
        int indices[4];
        for (int c = 0; c < 4; ++c) {
            indices[c] = columna(resultado, columnasRequeridas[c]);
            if (indices[c] < 0) {
                std::cerr << prefijoError << "Unknown column '" << columnasRequeridas[c]
                          << "' in table tarsenvik_version" << std::endl;
                return false;
            }
        }
        filas.reserve(resultado.num_rows());
        textos.reserve(resultado.num_rows());
        for (size_t r = 0; r < resultado.num_rows(); ++r) {
            const mysqlpp::Row& row = resultado[r];
            FilaVersion leida;
            leida.versionNula = row[indices[0]].is_null();
            leida.version = texto(row[indices[0]]);
            leida.plataforma = texto(row[indices[1]]);
            filas.push_back(std::move(leida));
            textos.emplace_back(texto(row[indices[2]]), texto(row[indices[3]]));
        }
    } catch (const std::exception& error) {
        // MySQL++ throws on some bad data even with exceptions switched off.
        std::cerr << prefijoError << error.what() << std::endl;
        return false;
    }

    const long elegida = elegirFila(filas, plataforma);
    if (elegida < 0)
        return false;
    const size_t i = static_cast<size_t>(elegida);
    const int numero = leerVersion(filas[i].version, filas[i].versionNula);
    if (numero <= versionInstalada)
        return false;

    fila.setUltimaVersion(numero);
    fila.setPlataforma(filas[i].plataforma);
    fila.setDescripcionActualizacion(textos[i].first);
    const std::string url = textos[i].second + "/" + fila.getPlataforma() + "/"
                            + UtilesLauncher::converString(fila.getUltimaVersion());
    std::cout << url << std::endl;
    fila.setPathXmlListado(url);
    return true;
}
