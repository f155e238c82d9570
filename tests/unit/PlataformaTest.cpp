#include "support/EntornoPruebas.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace EntornoPruebas;

namespace {

// Runs a program without a shell (the paths hold blanks); its standard output,
// or "" when it does not end within the limit.
std::string salidaDe(const std::string& programa)
{
    int tubo[2];
    if (pipe(tubo) != 0)
        return std::string();
    const pid_t hijo = fork();
    if (hijo == 0) {
        dup2(tubo[1], 1);
        close(tubo[0]);
        close(tubo[1]);
        execl(programa.c_str(), programa.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(tubo[1]);
    std::string salida;
    char bloque[512];
    for (ssize_t leidos; (leidos = read(tubo[0], bloque, sizeof bloque)) > 0;)
        salida.append(bloque, static_cast<size_t>(leidos));
    close(tubo[0]);
    int estado = 0;
    const bool terminado = esperar([&] { return waitpid(hijo, &estado, WNOHANG) == hijo; },
                                   std::chrono::seconds(10));
    if (!terminado) {
        kill(hijo, SIGKILL);
        waitpid(hijo, nullptr, 0);
        return std::string();
    }
    return salida;
}

// The installation is the executable's folder, or its parent when that is "bin" or "lib".
TEST(PlataformaTest, CarpetaDeDatosSegunDondeEsteElEjecutable)
{
    const struct {
        const char* carpetaEjecutable;
        const char* instalacion;
    } casos[] = {
        {"F/bin", "F"},
        {"F/lib", "F"},
        {"F", "F"},
        {"F/other", "F/other"},
        {"F/bin/bin", "F/bin"},
        {"F/binario", "F/binario"},
        {"Tarsenvik Game/bin", "Tarsenvik Game"},
    };
    const std::string original = carpetaCompilacion() + "/tests/tarsenvik-datadir";
    ASSERT_TRUE(fs::exists(original)) << original;
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.carpetaEjecutable);
        const CarpetaTemporal raiz;
        const fs::path carpeta = fs::path(raiz.ruta()) / caso.carpetaEjecutable;
        fs::create_directories(carpeta);
        // A copy, not a link: the program finds itself through its own path.
        fs::copy_file(original, carpeta / "tarsenvik-datadir");

        const std::string instalacion = raiz / caso.instalacion;
        std::vector<std::string> lineas;
        std::istringstream salida(salidaDe((carpeta / "tarsenvik-datadir").string()));
        for (std::string linea; std::getline(salida, linea);)
            lineas.push_back(linea);
        EXPECT_EQ(lineas, (std::vector<std::string>{
                              instalacion + "/src",
                              instalacion + "/src/Glade/DialogoNotasActualiza.glade",
                              instalacion + "/src/Iconos/error.png",
                          }));
    }
}

} // namespace
