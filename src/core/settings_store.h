// The installation's settings file: settingsFolder() + InstallationId + ".dvk", the
// ERP's own configuration in INI form. The path is built anew from InstallationId at each
// access, and each access opens, reads or writes, and closes the file.
#pragma once

#include <string>

#include "platform/ini_file.h"

namespace dovra {

// Section and key names of the settings file.
namespace settings_keys {
inline constexpr const char* kConexao = "conexao";
inline constexpr const char* kCnxNfe = "cnxnfe";
inline constexpr const char* kBackup = "backup";
inline constexpr const char* kEndereco = "endereco";
inline constexpr const char* kUsuario = "usuario";
inline constexpr const char* kSenha = "senha";
inline constexpr const char* kTempo1 = "tempo1";
inline constexpr const char* kTempo2 = "tempo2";
inline constexpr const char* kTempo3 = "tempo3";
inline constexpr const char* kLocalRemoto = "localremoto";
inline constexpr const char* kEnderecoBackup = "enderecobackup";
inline constexpr const char* kCaminhoBkpManual = "caminhobkpmanual";
inline constexpr const char* kCaminhoBkpManual2 = "caminhobkpmanual2";
// The program's own section, which the ERP does not read.
inline constexpr const char* kBackupDovra = "backupdovra";
inline constexpr const char* kVerificar = "verificar";
}  // namespace settings_keys

// Path of the settings file of an installation.
std::string settingsFilePath(const std::string& installationId);

// The settings file of the installation named by `installationId` (read at each call).
inline ProfileFile settingsFile(const std::string& installationId) {
  return ProfileFile(settingsFilePath(installationId));
}

}  // namespace dovra
