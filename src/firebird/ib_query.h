// A dataset: one SQL statement at a time on a connection and its transaction (the
// program's `Query1`, `qnfe`, `qnfe2`).
//
// The statement text is set at run time (SetSQL) and parsed for named parameters
// (":d1") at once; parameters are then addressed by name without regard to case, and a
// name the statement does not contain fails with "Parameter D9 not found". Parameter
// values stay set until the text changes; a parameter never set is sent as NULL.
//
// Running a statement (Open for a select, ExecSQL otherwise) first opens the connection
// when it is closed, with the name and parameter lines it holds, and starts the
// transaction when it is not active. Open fetches the first row; Eof tells whether there
// is a current row, Next moves to the following one (at the end Eof turns true and the
// fields keep the last row). With no row, every field reads as NULL: empty text, 0, no
// date. Fields are read as stored (CHAR columns keep their trailing blanks). Text and
// text blobs come back as UTF-8 (AsString) or as the Windows-1252 bytes the connection
// delivered (AsBytes); blobs are read whole.
//
// Threads and ownership: as for the connection (ib_database.h). Every method takes the
// connection's lock for its own duration.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firebird/ib_database.h"
#include "firebird/sql_params.h"

namespace dovra {

// One column of the current row.
class IbField {
 public:
  const std::string& FieldName() const { return name_; }
  bool IsNull() const { return kind_ == Kind::Null; }

  // UTF-8 text: text as stored, numbers in decimal ("-12.50" for a scaled number),
  // dates "dd/mm/yyyy", times "hh:nn:ss", booleans "True"/"False"; NULL gives "".
  std::string AsString() const;
  // Text and blobs as the connection delivered them (Windows-1252 bytes); other types as
  // AsString.
  std::string AsBytes() const;
  // 32-bit integer; NULL gives 0. Text is converted ("'x' is not a valid integer
  // value"); a value outside the 32-bit range fails with "Integer overflow".
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  // Date of a DATE or TIMESTAMP column; NULL gives no date.
  std::optional<std::chrono::year_month_day> AsDate() const;
  // Date and time (local time as stored); a DATE gives midnight; NULL gives none.
  std::optional<std::chrono::local_seconds> AsDateTime() const;

 private:
  friend class IbQuery;
  enum class Kind { Null, Text, Blob, Integer, Float, Date, Time, Timestamp, Boolean };

  std::string name_;
  Kind kind_ = Kind::Null;
  int scale_ = 0;        // Integer: value is integer_ * 10^scale_
  std::string bytes_;    // Text, Blob
  int64_t integer_ = 0;  // Integer, Boolean; Date and Timestamp: days since 1858-11-17
  uint32_t time_ = 0;    // Time and Timestamp: ten-thousandths of a second since midnight
  double float_ = 0;     // Float
};

// A named parameter of the statement.
class IbParam {
 public:
  const std::string& Name() const { return name_; }
  bool IsNull() const { return kind_ == Kind::Null; }

  // UTF-8 text, sent as Windows-1252 bytes (into a blob when the column is a blob).
  void setAsString(std::string_view text);
  void setAsInteger(int32_t value);
  void setAsLargeInt(int64_t value);
  void setAsDate(std::chrono::year_month_day date);
  void Clear();

 private:
  friend class IbQuery;
  enum class Kind { Null, Text, Integer, Date };

  std::string name_;
  Kind kind_ = Kind::Null;
  std::string bytes_;
  int64_t integer_ = 0;
};

class IbQuery {
 public:
  // `transaction` must belong to `database`.
  IbQuery(IbDatabase& database, IbTransaction& transaction);
  ~IbQuery();
  IbQuery(const IbQuery&) = delete;
  IbQuery& operator=(const IbQuery&) = delete;

  // When false, SetSQL does not look for named parameters (statements whose ":" belongs
  // to the statement itself, such as EXECUTE BLOCK bodies).
  bool ParamCheck = true;

  // Closes the dataset, drops the prepared statement and sets the new text.
  void SetSQL(std::string_view text);
  const std::string& SQL() const { return sql_; }

  IbParam& ParamByName(std::string_view name);
  size_t ParamCount() const { return params_.size(); }

  // Runs a select (or a procedure with outputs) and fetches its first row; does nothing
  // when the dataset is open already.
  void Open();
  // Runs a statement without a result set (a select is run and its rows discarded).
  void ExecSQL();
  // Closes the dataset; the statement stays prepared.
  void Close();
  bool Active() const;
  bool Eof() const;
  void Next();
  // Rows changed by the last ExecSQL of an insert, update or delete.
  int64_t RowsAffected();

  // The columns of the current row: Fields[i], Fields.Count(). Reading a field of a
  // closed dataset fails with "Cannot perform this operation on a closed dataset".
  class FieldList {
   public:
    explicit FieldList(const IbQuery& owner) : owner_(owner) {}
    const IbField& operator[](size_t index) const;
    size_t Count() const;

   private:
    const IbQuery& owner_;
  };
  const FieldList Fields{*this};
  // The column named `name` (case ignored); "Field 'NAME' not found" when there is none.
  const IbField& FieldByName(std::string_view name) const;

 private:
  friend class IbDatabase;
  friend class IbTransaction;

  void prepare();
  void bindInput();
  void openCursor();
  bool fetch();
  void storeRow();
  void clearRow();
  void closeCursor();
  void dropStatement();
  void requireOpen() const;
  std::string readBlob(const ISC_QUAD& id);
  ISC_QUAD writeBlob(const std::string& bytes);
  void ensureRunnable();
  void execute();
  XSQLDA* inDa();
  XSQLDA* outDa();

  IbDatabase& database_;
  IbTransaction& transaction_;
  const FbClient& client_;

  std::string sql_;
  ParsedSql parsed_;
  std::vector<IbParam> params_;
  std::vector<size_t> positions_;  // per "?": index into params_

  isc_stmt_handle statement_ = 0;
  int statementType_ = 0;
  std::vector<std::max_align_t> inStorage_;
  std::vector<std::max_align_t> outStorage_;
  std::vector<std::vector<char>> inBuffers_;
  std::vector<std::vector<char>> outBuffers_;
  std::vector<short> inNulls_;
  std::vector<short> outNulls_;
  std::vector<ISC_QUAD> inBlobIds_;
  std::vector<XSQLVAR> inDescribed_;  // input types as the server described them

  bool active_ = false;
  bool cursorOpen_ = false;
  bool eof_ = true;
  std::vector<IbField> fields_;
};

}  // namespace dovra
