#pragma once
// Puts the process into a locale whose decimal separator is "," for the lifetime of the
// object: the global C++ locale always, and the C locale where the machine has such a
// locale installed, since number texts could depend on either.
#include <clocale>
#include <locale>
#include <string>

namespace quillet_test {

class CommaLocale {
public:
    CommaLocale() {
        if (const char* current = std::setlocale(LC_ALL, nullptr))
            previousC_ = current;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "fr_FR",
                                 "nl_NL.UTF-8", "German_Germany.1252"}) {
            const std::lconv* conv = std::setlocale(LC_ALL, name) ? std::localeconv() : nullptr;
            if (conv && std::string(conv->decimal_point) == ",") {
                cLocaleChanged_ = true;
                break;
            }
        }
        if (!cLocaleChanged_)
            std::setlocale(LC_ALL, previousC_.c_str());
        previousCpp_ = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    }
    ~CommaLocale() {
        std::locale::global(previousCpp_);
        std::setlocale(LC_ALL, previousC_.c_str());
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

private:
    struct CommaPoint : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    std::string previousC_ = "C";
    std::locale previousCpp_;
    bool cLocaleChanged_ = false;
};

}  // namespace quillet_test
