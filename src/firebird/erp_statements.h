// Every SQL statement the program sends to the ERP databases, byte for byte: leading and
// trailing blanks, doubled blanks and semicolons are part of the texts. Statements whose
// texts hold a LIKE pattern or a letter literal are assembled from their fragments with
// the pattern quoted as an SQL string literal.
//
// Main database (`Query1` on `Banco`) unless noted; NF-e database (`qnfe`, `qnfe2` on
// `banconfe`) for kSelectUnsentNfe and kMarkNfeSent.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "firebird/sql_params.h"

namespace dovra::erp {

// 1. First non-null PARENDEXES: base folder of the ERP's exported files.
inline constexpr std::string_view kSelectXmlFolder =
    " select FIRST 1 PARENDEXES from parametro where PARENDEXES is not null; ";

// 2. Legal and trade name of company 1.
inline constexpr std::string_view kSelectCompanyNames =
    " select EMPRAZAOSOC, EMPFANTASIA from EMPRESA where EMPCODIGO = 1; ";

// 3. Twice the user tables and views not named CONT_... or VIEW_..., minus 6.
inline const std::string kCountUserTables =
    std::string(
        " select (count(rdb$relation_name)*2) - 6 from rdb$relations  where "
        "rdb$system_flag = 0 and rdb$relation_name not like ") +
    sqlQuote("CONT_%") + " and rdb$relation_name not like " + sqlQuote("VIEW_%");

// 4. Segments of the indices with system-made names, minus 420.
inline const std::string kCountSystemIndexSegments =
    std::string(
        " select (count(i.rdb$index_name)) - 420  from rdb$indices i  join "
        "rdb$index_segments s on (i.rdb$index_name = s.rdb$index_name) where "
        "i.rdb$index_name like ") +
    sqlQuote("RDB$%");

// 5. Date of the last daily upload, and the server's date beside it: the upload date is
// recorded with the server's current_date (8.), so "already done today" compares the two
// dates of one clock, whatever the desktop's own date says.
inline constexpr std::string_view kSelectUploadDate =
    " select PRGDATAFTP, current_date from pargeral; ";

// 6. CNPJ of the first company that has one.
inline constexpr std::string_view kSelectFirstCnpj =
    " select FIRST 1 EMPCNPJ from EMPRESA where EMPCNPJ <> '0' order by EMPCODIGO; ";

// 7. CNPJ of every company that has one, in company order.
inline constexpr std::string_view kSelectAllCnpjs =
    " select EMPCNPJ from EMPRESA where EMPCNPJ <> '0' order by EMPCODIGO; ";

// 8. Records today as the date of the last daily upload.
inline constexpr std::string_view kUpdateUploadDate =
    " update pargeral set PRGDATAFTP = current_date; ";

// 9. NF-e documents not yet sent (NF-e database, `qnfe`).
inline const std::string kSelectUnsentNfe =
    std::string(" select * from nfe where NFEFTP = ") + sqlQuote("N") + " order by NFEEMPRESA ";

// 10. CNPJ of company 1.
inline constexpr std::string_view kSelectOwnCnpj =
    " select EMPCNPJ from EMPRESA where EMPCODIGO = 1; ";

// 11. Marks one NF-e document as sent (NF-e database, `qnfe2`): d1 "S" (text),
// d2 NFEEMPRESA (integer), d3 NFENOTA (integer).
inline constexpr std::string_view kMarkNfeSent =
    " update NFE set NFEFTP = :d1 where NFEEMPRESA = :d2 and NFENOTA = :d3 ";

// 12. Records a manual backup: d2 the archive's file name without folder.
inline constexpr std::string_view kRecordManualBackup =
    " update PARGERAL set PRGDATABACKUP = CURRENT_DATE, PRGNOMEBACKUP = :d2 ";

// 13. Records today as the date of the last backup (the operator's override).
inline constexpr std::string_view kOverrideBackupDate =
    " update PARGERAL set PRGDATABACKUP = CURRENT_DATE ";

// The thirteen statements in the order above.
inline const std::array<std::string, 13> kAllStatements = {std::string(kSelectXmlFolder),
                                                           std::string(kSelectCompanyNames),
                                                           kCountUserTables,
                                                           kCountSystemIndexSegments,
                                                           std::string(kSelectUploadDate),
                                                           std::string(kSelectFirstCnpj),
                                                           std::string(kSelectAllCnpjs),
                                                           std::string(kUpdateUploadDate),
                                                           kSelectUnsentNfe,
                                                           std::string(kSelectOwnCnpj),
                                                           std::string(kMarkNfeSent),
                                                           std::string(kRecordManualBackup),
                                                           std::string(kOverrideBackupDate)};

}  // namespace dovra::erp
