#pragma once

#include <libxml++/parsers/saxparser.h>

#include <string>

class InstaladorVersion;

/// Reads a release's file list document: every end of a "fichero" element
/// appends one entry (the latest "nombre" and "ruta" seen since the previous
/// "fichero" end) to the bound record. One reader reads one document.
class XmlInstalador : public xmlpp::SaxParser {
public:
    explicit XmlInstalador(InstaladorVersion& instalador);
    ~XmlInstalador() override;

protected:
    void on_start_element(const Glib::ustring& nombre,
                          const AttributeList& atributos) override;
    void on_end_element(const Glib::ustring& nombre) override;

private:
    std::string nombreFichero;
    std::string rutaFichero;
    InstaladorVersion& instaladorVersion;
};
