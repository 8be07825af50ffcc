// The company's folder on the maker's FTP servers and the "fk" of the date report, both
// derived from a CNPJ text as the ERP stores it (possibly formatted with ".", "/" and
// "-"; "0" for a company without one). Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// The folder used when there is no usable CNPJ.
inline constexpr const char* kNoCnpjFolder = "autalizar_cnpj";

// Removes every ".", then every "/", then every "-".
std::string cleanCnpj(std::string_view cnpj);

// The folder for a CNPJ text: trimmed; empty gives "autalizar_cnpj"; otherwise cleaned,
// and a cleaned text of exactly "0" gives "autalizar_cnpj" too.
std::string cnpjFolderName(std::string_view cnpj);

}  // namespace dovra
