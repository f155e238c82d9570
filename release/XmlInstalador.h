#pragma once

#include <libxml++/parsers/saxparser.h>
#include <libxml/parser.h>

#include <string>

class InstaladorVersion;

/// Reads a release's file list document: every end of a "fichero" element
/// appends one entry (the latest "nombre", "ruta", "bytes" and "sha256" seen
/// since the previous "fichero" end) to the bound record. One reader reads
/// one document. The root element's "version" and "plataforma" are kept.
///
/// The document comes from the network: while the reader exists, no external
/// entity or DTD is loaded (internal entities still substitute).
class XmlInstalador : public xmlpp::SaxParser {
public:
    explicit XmlInstalador(InstaladorVersion& instalador);
    ~XmlInstalador() override;

    /// Reads the document itself, then parses it from memory, so that the
    /// entity loader never has to open anything.
    void parse_file(const Glib::ustring& fichero) override;

    /// The root element's "version" and "plataforma" attributes as read;
    /// empty when absent.
    const std::string& getVersionLista() const { return versionLista; }
    const std::string& getPlataformaLista() const { return plataformaLista; }

protected:
    void on_start_element(const Glib::ustring& nombre,
                          const AttributeList& atributos) override;
    void on_end_element(const Glib::ustring& nombre) override;

private:
    std::string nombreFichero;
    std::string rutaFichero;
    std::string bytesFichero;
    std::string sha256Fichero;
    std::string versionLista;
    std::string plataformaLista;
    bool raizLeida = false;
    InstaladorVersion& instaladorVersion;
    xmlExternalEntityLoader cargadorAnterior;   // given back when the reader goes
};
