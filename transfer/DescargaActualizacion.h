#pragma once

#include <cstddef>
#include <string>

class DialogoActulizacion;

/// Fetches one URL of the update server into one local file with libcurl.
/// Progress goes to the download panel set with setDialogoProgreso; that panel
/// and the speed interval live at module level, shared by all instances,
/// because the transfer library calls the progress function without context.
class DescargaActualizacion {
public:
    /// Time limit of the whole file list transfer, connection included.
    static constexpr long limiteXmlMs = 2500;
    /// A release file that receives nothing for this long is abandoned.
    static constexpr long inactividadPorDefecto = 60;

    /// Shortest time between two refreshes of the window during a transfer.
    static constexpr int refrescoMs = 40;
    /// Largest file list (and signature) taken: a server that sends more
    /// must not fill the settings folder's disk.
    static constexpr long long limiteXmlBytes = 16LL * 1024 * 1024;

    /// What a release file must turn out to be, as its file list declares it.
    struct Esperado {
        /// Exact size in bytes; negative: not declared. More is abandoned at
        /// once, less fails at the end. Also the progress total when the
        /// server sends no length.
        long long bytes = -1;
        /// SHA-256 of the content, 64 hexadecimal digits; empty: not declared.
        std::string sha256;
    };

    /// Detaches the downloader from any progress panel.
    DescargaActualizacion();
    ~DescargaActualizacion();
    DescargaActualizacion(const DescargaActualizacion&) = delete;
    DescargaActualizacion& operator=(const DescargaActualizacion&) = delete;

    void setDialogoProgreso(DialogoActulizacion& dialogo);

    /// Fetches `url` into `ruta` (created or truncated), reporting progress to
    /// the panel. True when the transfer succeeded.
    bool descargaDatos(std::string url, std::string ruta);
    /// The same, and true only when the content is what `esperado` declares,
    /// checked while it arrives. On failure `ruta` holds at most the
    /// declared size.
    bool descargaDatos(std::string url, std::string ruta, const Esperado& esperado);

    /// Fetches base URL, "/", `nombre` into the settings folder under `nombre`,
    /// within limiteXmlMs and limiteXmlBytes, without progress reports.
    bool descargaFicheroXml(std::string urlBase, std::string nombre);

    /// Seconds without data after which a release file is abandoned.
    static void setLimiteInactividad(long segundos);

    /// While set, a running release file transfer is abandoned at its next
    /// progress report and new ones fail at once: the user closed the window.
    static void setCancelada(bool cancelada);

private:
    // libcurl share (CURLSH) through which every transfer of this downloader
    // keeps its connection to the server open for the next file.
    void* conexiones;
};

/// Write callback: streams the received bytes to the FILE* given as `salida`.
std::size_t writeFunction(void* datos, std::size_t tamano, std::size_t cantidad, void* salida);

/// Progress callback: speed and amounts about once a clock second, then the
/// event pump, then the fraction. Always answers 0: the transfer goes on.
int progress_callback(void* contexto, double totalDescarga, double descargado,
                      double totalSubida, double subido);
