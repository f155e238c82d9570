#include "release/XmlInstalador.h"

#include "release/InstaladorVersion.h"

#include <glibmm/convert.h>
#include <libxml/parser.h>

#include <iostream>

namespace {

// The document comes from the network: it may name local files or URLs as
// external entities, and none of them is ever read. Internal entities still
// substitute.
xmlExternalEntityLoader cargadorOriginal = nullptr;

xmlParserInputPtr soloDocumento(const char* url, const char* id, xmlParserCtxtPtr contexto)
{
    // The document itself opens before any input exists; everything after is
    // an external entity or DTD.
    if (contexto != nullptr && contexto->inputNr == 0 && cargadorOriginal != nullptr)
        return cargadorOriginal(url, id, contexto);
    return nullptr;
}

} // namespace

XmlInstalador::XmlInstalador(InstaladorVersion& instalador)
    : xmlpp::SaxParser(false), instaladorVersion(instalador)
{
    if (cargadorOriginal == nullptr) {
        cargadorOriginal = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(soloDocumento);
    }
    set_parser_options(XML_PARSE_NONET, XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID);
}

XmlInstalador::~XmlInstalador() = default;

void XmlInstalador::on_start_element(const Glib::ustring&, const AttributeList& atributos)
{
    for (const auto& atributo : atributos) {
        try {
            if (atributo.name.compare("nombre") == 0)
                nombreFichero = atributo.value.raw();
            if (atributo.name.compare("ruta") == 0)
                rutaFichero = atributo.value.raw();
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
    instaladorVersion.anadirFichero(nombreFichero, rutaFichero);
    nombreFichero.clear();
    rutaFichero.clear();
}
