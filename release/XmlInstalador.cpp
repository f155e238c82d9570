#include "release/XmlInstalador.h"

#include "release/InstaladorVersion.h"

#include <glibmm/convert.h>
#include <libxml++/exceptions/internal_error.h>

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// libxml asks the loader for every external entity and external DTD; none is
// ever read. The document itself is read by parse_file, not through the loader.
xmlParserInputPtr rechazarEntidadExterna(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

} // namespace

XmlInstalador::XmlInstalador(InstaladorVersion& instalador)
    : xmlpp::SaxParser(false),
      instaladorVersion(instalador),
      cargadorAnterior(xmlGetExternalEntityLoader())
{
    // The loader is process-wide: refuse only while this reader exists.
    xmlSetExternalEntityLoader(rechazarEntidadExterna);
    set_parser_options(XML_PARSE_NONET, XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID);
}

XmlInstalador::~XmlInstalador()
{
    xmlSetExternalEntityLoader(cargadorAnterior);
}

void XmlInstalador::parse_file(const Glib::ustring& fichero)
{
    std::ifstream entrada(fichero.raw(), std::ios_base::in | std::ios_base::binary);
    if (!entrada)
        throw xmlpp::internal_error("Could not open the file " + fichero);
    // Read errors (a folder, a failing disk) come as stream states, not exceptions.
    std::ostringstream copia;
    if (entrada.peek() != std::ifstream::traits_type::eof())
        copia << entrada.rdbuf();
    if (entrada.bad() || !copia)
        throw xmlpp::internal_error("Could not read the file " + fichero);
    const std::string contenido = copia.str();
    // An empty document throws here too: libxml makes no context for it.
    parse_memory_raw(reinterpret_cast<const unsigned char*>(contenido.data()), contenido.size());
}

void XmlInstalador::on_start_element(const Glib::ustring&, const AttributeList& atributos)
{
    // The release a list belongs to is told on its root element only.
    const bool raiz = !raizLeida;
    raizLeida = true;
    for (const auto& atributo : atributos) {
        try {
            if (atributo.name.compare("nombre") == 0)
                nombreFichero = atributo.value.raw();
            if (atributo.name.compare("ruta") == 0)
                rutaFichero = atributo.value.raw();
            if (atributo.name.compare("bytes") == 0)
                bytesFichero = atributo.value.raw();
            if (atributo.name.compare("sha256") == 0)
                sha256Fichero = atributo.value.raw();
            if (raiz && atributo.name.compare("version") == 0)
                versionLista = atributo.value.raw();
            if (raiz && atributo.name.compare("plataforma") == 0)
                plataformaLista = atributo.value.raw();
        } catch (const Glib::ConvertError& error) {
            std::cerr << "XmlParse attributes Exception obtaining name or value" << error.what()
                      << std::endl;
        }
    }
}

void XmlInstalador::on_end_element(const Glib::ustring& nombre)
{
    if (nombre.compare("fichero") != 0)
        return;
    instaladorVersion.anadirFichero(nombreFichero, rutaFichero, bytesFichero, sha256Fichero);
    nombreFichero.clear();
    rutaFichero.clear();
    bytesFichero.clear();
    sha256Fichero.clear();
}
