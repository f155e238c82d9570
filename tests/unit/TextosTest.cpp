#include "ui/UtilesLauncher.h"

#include <gtest/gtest.h>

#include <climits>
#include <locale>
#include <sstream>
#include <string>

namespace {

TEST(TextosTest, NumerosComoTexto)
{
    const struct {
        double valor;
        const char* texto;
    } reales[] = {
        {12.3456789, "12.3457"}, {50, "50"},       {0.5, "0.5"},        {99.9999999, "100"},
        {1234567, "1.23457e+06"}, {0.0, "0"},      {-0.25, "-0.25"},    {100.0, "100"},
        {0.0001, "0.0001"},      {1e-5, "1e-05"}, {123456, "123456"}, {-1234567, "-1.23457e+06"},
    };
    for (const auto& caso : reales) {
        SCOPED_TRACE(caso.texto);
        EXPECT_EQ(UtilesLauncher::converString(caso.valor), caso.texto);
    }

    const struct {
        int valor;
        const char* texto;
    } enteros[] = {
        {0, "0"}, {-7, "-7"}, {2147483647, "2147483647"}, {INT_MIN, "-2147483648"}, {305062, "305062"},
    };
    for (const auto& caso : enteros) {
        SCOPED_TRACE(caso.texto);
        EXPECT_EQ(UtilesLauncher::converString(caso.valor), caso.texto);
    }
}

// A comma locale with digit grouping, made by hand: no such locale is installed here.
struct ComaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

class LocaleGlobal {
public:
    explicit LocaleGlobal(const std::locale& nuevo) : anterior(std::locale::global(nuevo)) {}
    ~LocaleGlobal() { std::locale::global(anterior); }

private:
    std::locale anterior;
};

TEST(TextosTest, ElPuntoSigueSiendoPuntoConOtroLocale)
{
    const LocaleGlobal coma(std::locale(std::locale::classic(), new ComaDecimal));
    std::ostringstream prueba;
    prueba << 1234.5 << ' ' << 1234567;
    ASSERT_EQ(prueba.str(), "1.234,5 1.234.567") << "the comma locale did not take effect";

    EXPECT_EQ(UtilesLauncher::converString(1234.5), "1234.5");
    EXPECT_EQ(UtilesLauncher::converString(0.5), "0.5");
    EXPECT_EQ(UtilesLauncher::converString(1234567.0), "1.23457e+06");
    EXPECT_EQ(UtilesLauncher::converString(1234567), "1234567");
    EXPECT_EQ(UtilesLauncher::converString(-305062), "-305062");
}

} // namespace
