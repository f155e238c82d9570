#include "core/NucleoLauncher.h"

#include "core/ModulosLauncher.h"
#include "platform/ClavePublica.h"
#include "platform/Plataforma.h"
#include "release/ConexionBD.h"
#include "release/FirmaLista.h"
#include "release/InstaladorVersion.h"
#include "release/XmlInstalador.h"
#include "ui/DialogoActulizacion.h"
#include "ui/DialogoSeleccionAct.h"
#include "ui/InterfazLauncher.h"
#include "ui/UtilesLauncher.h"

#include <giomm/file.h>
#include <glibmm/fileutils.h>
#include <glibmm/miscutils.h>
#include <gtkmm/button.h>
#include <gtkmm/textview.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <vector>

namespace {

const char* const plataforma = "win32";
const char* const ficheroConfig = "datosVersion1.dat";
const char* const ficheroXml = "XmlInstalacion.xml";
const char* const tituloError = "Update error";
const char* const mensajeError = "The system can not be update. Try later or contact as support";

// Suffixes of the files an install keeps beside each destination until it is
// complete: the new content, and the content it replaces.
const char* const sufijoNuevo = ".tarsenvik-nuevo";
const char* const sufijoAnterior = ".tarsenvik-anterior";

// One destination of the install and what happened to it so far.
struct Destino {
    std::string origen;
    std::string destino;
    bool preparado = false;  // the new content waits beside the destination
    bool existia = false;    // the old content was kept aside
    bool colocado = false;   // the new content is in place
};

// Also a link that points nowhere: it is set aside and restored like a file.
bool existe(const std::string& ruta)
{
    return Glib::file_test(ruta, Glib::FILE_TEST_EXISTS | Glib::FILE_TEST_IS_SYMLINK);
}

void borrar(const std::string& ruta)
{
    std::remove(ruta.c_str());
}

// Disconnects a handler when the scope that needed it ends.
class ConexionTemporal {
public:
    explicit ConexionTemporal(sigc::connection conexion) : conexion(conexion) {}
    ~ConexionTemporal() { conexion.disconnect(); }
    ConexionTemporal(const ConexionTemporal&) = delete;
    ConexionTemporal& operator=(const ConexionTemporal&) = delete;

private:
    sigc::connection conexion;
};

} // namespace

NucleoLauncher::NucleoLauncher()
    : interfazLauncher(nullptr), modulosLauncher(nullptr), actualizando(false), cancelada(false)
{
    interfazLauncher = new InterfazLauncher();
    modulosLauncher = new ModulosLauncher();
    DialogoSeleccionAct* oferta = interfazLauncher->getDialogoSeleccionAct();
    if (Gtk::Button* boton = oferta->getSkipVersionButton())
        boton->signal_clicked().connect(sigc::mem_fun(*this, &NucleoLauncher::skipVersionActual));
    if (Gtk::Button* boton = oferta->getRemindLaterButton())
        boton->signal_clicked().connect(sigc::mem_fun(*this, &NucleoLauncher::remindLaterVersion));
    if (Gtk::Button* boton = oferta->getUpdateButton())
        boton->signal_clicked().connect(
            sigc::mem_fun(*this, &NucleoLauncher::iniciarActualizacion));
}

NucleoLauncher::~NucleoLauncher()
{
    delete interfazLauncher;
    delete modulosLauncher;
}

InterfazLauncher* NucleoLauncher::getInterfazLaunch() const { return interfazLauncher; }
ModulosLauncher* NucleoLauncher::getModulosLauncher() const { return modulosLauncher; }

bool NucleoLauncher::comprobarNuevasActualizaciones()
{
    ConexionBD conexion;
    ConfigLauncher* config = modulosLauncher->getConfigLauncher();
    InstallTarsenvik* fila = modulosLauncher->getInstallTarsenvik();

    int instalada = config->getVersion();
    if (instalada <= versionMinima) {
        instalada = versionMinima;
        config->setVersion(versionMinima);
    }
    // Without its update button (a missing or broken layout) the offer would
    // be a window the user can only close: go straight to the application.
    if (interfazLauncher->getDialogoSeleccionAct()->getUpdateButton() == nullptr)
        return false;
    if (!conexion.obtenerDatosBD(plataforma, instalada, *fila))
        return false;

    modulosLauncher->crearInstaladorVersion(fila->getUltimaVersion(), fila->getPlataforma(),
                                            fila->getPathXmlListado(),
                                            fila->getDescripcionActualizacion());
    if (Gtk::TextView* notas = interfazLauncher->getDialogoSeleccionAct()->getTextViewDescripcion())
        notas->get_buffer()->set_text(Glib::ustring(fila->getDescripcionActualizacion()));
    return true;
}

void NucleoLauncher::skipVersionActual()
{
    ConfigLauncher* config = modulosLauncher->getConfigLauncher();
    config->setVersion(modulosLauncher->getInstaladorVersion()->getUltimaVersion());
    config->escribFichConfig(UtilesLauncher::direccionConfig(ficheroConfig), *config);
    interfazLauncher->cerrarActualizador();
}

void NucleoLauncher::remindLaterVersion()
{
    interfazLauncher->cerrarActualizador();
}

void NucleoLauncher::iniciarActualizacion()
{
    // A second click queued before the panel switch must not start a second run.
    if (actualizando)
        return;
    actualizando = true;
    DescargaActualizacion::setCancelada(false);
    // Before the default handler, which hides the window: the run then gives
    // up, even in the middle of a file. Only for this run; afterwards a close
    // just closes.
    const ConexionTemporal cierre(interfazLauncher->signal_delete_event().connect(
        sigc::mem_fun(*this, &NucleoLauncher::alCerrarVentana), false));

    DescargaActualizacion* descarga = modulosLauncher->getDescargaActualizacion();
    ConfigLauncher* config = modulosLauncher->getConfigLauncher();
    InstaladorVersion* instalador = modulosLauncher->getInstaladorVersion();

    interfazLauncher->crearDialogoActuliazcion();
    if (DialogoActulizacion* panel = interfazLauncher->getDialogoActualizacion())
        descarga->setDialogoProgreso(*panel);

    if (!obtenerDatosDeActualizacion()) {
        abandonarActualizacion();
        return;
    }
    if (!descargaDatos()) {
        if (!cancelada)
            std::cout << "Error while downloading" << std::endl;
        abandonarActualizacion();
        return;
    }
    const int numFicheros = instalador->getNumFicheros();
    if (!instalarFicheros()) {
        if (!borraCacheDescarga(*instalador, numFicheros))
            std::cout << "Error while deleting the downloaded files" << std::endl;
        abandonarActualizacion();
        return;
    }
    if (!borraCacheDescarga(*instalador, numFicheros))
        std::cout << "Error while deleting the downloaded files" << std::endl;

    config->setVersion(instalador->getUltimaVersion());
    config->escribFichConfig(UtilesLauncher::direccionConfig(ficheroConfig), *config);
    if (DialogoActulizacion* panel = interfazLauncher->getDialogoActualizacion())
        panel->setActiveCerrar();
    else
        interfazLauncher->cerrarActualizador();
}

void NucleoLauncher::abandonarActualizacion()
{
    // A user who closed the window asked for no more; no dialog comes back.
    if (!cancelada)
        UtilesLauncher::dialogoError(mensajeError, tituloError);
    interfazLauncher->cerrarActualizador();
}

bool NucleoLauncher::alCerrarVentana(GdkEventAny*)
{
    cancelada = true;
    // Also the file that is arriving now: it could take long, or never end.
    DescargaActualizacion::setCancelada(true);
    return false;
}

bool NucleoLauncher::obtenerDatosDeActualizacion()
{
    InstaladorVersion* instalador = modulosLauncher->getInstaladorVersion();
    DescargaActualizacion* descarga = modulosLauncher->getDescargaActualizacion();
    if (!descarga->descargaFicheroXml(instalador->getPathXmlListado(), ficheroXml))
        return false;
    // Built with a release key, the launcher takes only a list signed by it,
    // for this very release, that declares every file's size and hash.
    const std::string clave = ClavePublica::base64();
    const bool firmada = !clave.empty();
    std::string lista;
    if (firmada) {
        if (!descarga->descargaFicheroXml(instalador->getPathXmlListado(), FirmaLista::nombreFirma))
            return false;
        if (!FirmaLista::leerVerificada(UtilesLauncher::direccionConfig(ficheroXml),
                                        UtilesLauncher::direccionConfig(FirmaLista::nombreFirma),
                                        clave, lista)) {
            std::cerr << "The file list is not signed with the release key" << std::endl;
            return false;
        }
    }
    try {
        XmlInstalador lector(*instalador);
        lector.set_substitute_entities(true);
        if (firmada) {
            // The bytes that were verified, not the file again.
            lector.parse_memory_raw(reinterpret_cast<const unsigned char*>(lista.data()),
                                    lista.size());
            // An older signed list served again must not install an older release.
            if (lector.getVersionLista() != std::to_string(instalador->getUltimaVersion())
                || lector.getPlataformaLista() != instalador->getPlataforma()) {
                std::cerr << "The signed file list is not the one of this release" << std::endl;
                return false;
            }
        } else {
            lector.parse_file(Glib::ustring(UtilesLauncher::direccionConfig(ficheroXml)));
        }
    } catch (...) {
        return false;
    }
    // Names and folders come from the network: none may reach outside the
    // cache folder or the installation. Sizes and hashes must be usable.
    return instalador->entradasSeguras() && instalador->comprobacionesValidas()
           && (!firmada || instalador->comprobacionesCompletas());
}

bool NucleoLauncher::descargaDatos()
{
    InstaladorVersion* instalador = modulosLauncher->getInstaladorVersion();
    DescargaActualizacion* descarga = modulosLauncher->getDescargaActualizacion();
    const std::string urlBase = instalador->getPathXmlListado();
    DialogoActulizacion* panel = interfazLauncher->getDialogoActualizacion();
    const int numFicheros = instalador->getNumFicheros();

    auto ultimoRefresco = std::chrono::steady_clock::time_point();
    for (int i = 0; i < numFicheros; ++i) {
        // Also a close that waited while the file list came, without events.
        // Not before every file: with thousands of small files the redraws
        // would cost more than the downloads.
        const auto ahora = std::chrono::steady_clock::now();
        if (ahora - ultimoRefresco >= std::chrono::milliseconds(DescargaActualizacion::refrescoMs)) {
            ultimoRefresco = ahora;
            UtilesLauncher::actualizarInterfaz();
        }
        if (cancelada) {
            if (!borraCacheDescarga(*instalador, i))
                std::cout << "Error while deleting the downloaded files" << std::endl;
            return false;
        }
        const std::string nombre = instalador->getNombreFichero(i);
        if (panel) {
            panel->actualizaNumFicheros(i + 1, numFicheros);
            panel->actualizaInfoDescarga(0, 0);
        }
        // Checked while it arrives, as the file list declares it.
        DescargaActualizacion::Esperado esperado;
        if (!InstaladorVersion::leerBytes(instalador->getBytesFichero(i), esperado.bytes))
            esperado.bytes = -1;
        esperado.sha256 = instalador->getSha256Fichero(i);
        if (!descarga->descargaDatos(urlBase + "/" + nombre, UtilesLauncher::direccionCache(nombre),
                                     esperado)) {
            // A failed file's part stays for inspection, unless the user gave the run up.
            if (!borraCacheDescarga(*instalador, cancelada ? i + 1 : i))
                std::cout << "Error while deleting the downloaded files" << std::endl;
            return false;
        }
    }
    if (panel)
        panel->FinalizaDescarga();
    return true;
}

bool NucleoLauncher::borraCacheDescarga(InstaladorVersion& instalador, int numFicheros)
{
    bool borrados = true;
    for (int i = 0; i < numFicheros; ++i) {
        if (!UtilesLauncher::borraFicheroSistema(
                UtilesLauncher::direccionCache(instalador.getNombreFichero(i))))
            borrados = false;
    }
    return borrados;
}

bool NucleoLauncher::instalarFicheros()
{
    const InstaladorVersion* instalador = modulosLauncher->getInstaladorVersion();
    const std::string instalacion = Plataforma::directorioInstalacion();
    // Never install relative to whatever folder the launcher was started from.
    if (instalacion.empty())
        return false;

    // Entries naming the same destination install the later one.
    std::vector<Destino> destinos;
    std::map<std::string, size_t> porRuta;
    for (int i = 0; i < instalador->getNumFicheros(); ++i) {
        const std::string nombre = instalador->getNombreFichero(i);
        Destino d;
        d.origen = UtilesLauncher::direccionCache(nombre);
        d.destino = Glib::build_filename(instalacion, instalador->getRutaFichero(i) + nombre);
        const auto visto = porRuta.find(d.destino);
        if (visto != porRuta.end()) {
            destinos[visto->second] = d;
        } else {
            porRuta[d.destino] = destinos.size();
            destinos.push_back(d);
        }
    }

    // A cached file that no later destination needs is moved rather than
    // copied: on one file system that costs a rename instead of its bytes.
    std::map<std::string, size_t> ultimoUso;
    for (size_t i = 0; i < destinos.size(); ++i)
        ultimoUso[destinos[i].origen] = i;

    // First every new file is put beside its destination; a missing folder,
    // a full disk or a permission stops the install before anything changed.
    bool correcto = true;
    for (size_t i = 0; i < destinos.size(); ++i) {
        Destino& d = destinos[i];
        const std::string nuevo = d.destino + sufijoNuevo;
        if (ultimoUso[d.origen] == i && std::rename(d.origen.c_str(), nuevo.c_str()) == 0) {
            d.preparado = true;
            continue;
        }
        try {
            Gio::File::create_for_path(d.origen)
                ->copy(Gio::File::create_for_path(nuevo), Gio::FILE_COPY_OVERWRITE);
            d.preparado = true;
        } catch (const Glib::Error&) {
            // A copy that failed half way (a full disk) may have left a part behind.
            borrar(d.destino + sufijoNuevo);
            correcto = false;
            break;
        }
    }

    // Then each is put in place by renames, keeping what it replaces.
    for (size_t i = 0; correcto && i < destinos.size(); ++i) {
        Destino& d = destinos[i];
        if (Glib::file_test(d.destino, Glib::FILE_TEST_IS_DIR)) {
            correcto = false;
            break;
        }
        if (existe(d.destino)) {
            if (std::rename(d.destino.c_str(), (d.destino + sufijoAnterior).c_str()) != 0) {
                correcto = false;
                break;
            }
            d.existia = true;
        }
        if (std::rename((d.destino + sufijoNuevo).c_str(), d.destino.c_str()) != 0) {
            correcto = false;
            break;
        }
        d.preparado = false;
        d.colocado = true;
    }

    for (Destino& d : destinos) {
        if (correcto) {
            if (d.existia)
                borrar(d.destino + sufijoAnterior);
            continue;
        }
        // Undo: the installation goes back to what it was.
        if (d.colocado && !d.existia)
            borrar(d.destino);
        if (d.existia)
            std::rename((d.destino + sufijoAnterior).c_str(), d.destino.c_str());
        if (d.preparado)
            borrar(d.destino + sufijoNuevo);
    }
    return correcto;
}
