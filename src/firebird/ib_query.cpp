#include "firebird/ib_query.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "firebird/block_bytes.h"
#include "platform/text_codec.h"
#include "platform/trim.h"

namespace dovra {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
using namespace std::chrono;

constexpr short kInitialColumns = 20;
constexpr size_t kBlobSegment = 32768;
// ISC dates count days from 17 November 1858.
constexpr sys_days kIscEpoch = sys_days{1858y / November / 17};
// The zero date of day-fraction times (30 December 1899): the date of a time-only value.
constexpr local_days kZeroDate = local_days{1899y / December / 30};

XSQLDA* allocateSqlda(std::vector<std::max_align_t>& storage, short columns) {
  const size_t bytes = XSQLDA_LENGTH(std::max<short>(columns, 1));
  storage.assign((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t),
                 std::max_align_t{});
  auto* da = reinterpret_cast<XSQLDA*>(storage.data());
  da->version = SQLDA_VERSION1;
  da->sqln = columns;
  da->sqld = 0;
  return da;
}

template <typename T>
T readAs(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

int64_t powerOfTen(int exponent) {
  int64_t value = 1;
  for (int i = 0; i < exponent; ++i) value *= 10;
  return value;
}

std::string twoDigits(unsigned value) {
  std::string out = std::to_string(value);
  return out.size() < 2 ? "0" + out : out;
}

std::string formatDate(int64_t iscDays) {
  const year_month_day date{kIscEpoch + days{iscDays}};
  return twoDigits(static_cast<unsigned>(date.day())) + "/" +
         twoDigits(static_cast<unsigned>(date.month())) + "/" +
         std::to_string(static_cast<int>(date.year()));
}

std::string formatTime(uint32_t iscTime) {
  const uint32_t seconds = iscTime / ISC_TIME_SECONDS_PRECISION;
  return twoDigits(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" +
         twoDigits(seconds % 60);
}

std::string formatScaled(int64_t value, int scale) {
  if (scale >= 0) return std::to_string(value * powerOfTen(scale));
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  const size_t decimals = static_cast<size_t>(-scale);
  if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
  digits.insert(digits.size() - decimals, ".");
  return negative ? "-" + digits : digits;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// IbField

std::string IbField::AsString() const {
  switch (kind_) {
    case Kind::Null:
      return {};
    case Kind::Text:
    case Kind::Blob:
      return cp1252ToUtf8(bytes_);
    case Kind::Integer:
      return formatScaled(integer_, scale_);
    case Kind::Float: {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, float_);
      return std::string(buffer, result.ptr);
    }
    case Kind::Date:
      return formatDate(integer_);
    case Kind::Time:
      return formatTime(time_);
    case Kind::Timestamp:
      return time_ == 0 ? formatDate(integer_) : formatDate(integer_) + " " + formatTime(time_);
    case Kind::Boolean:
      return integer_ != 0 ? "True" : "False";
  }
  return {};
}

std::string IbField::AsBytes() const {
  if (kind_ == Kind::Text || kind_ == Kind::Blob) return bytes_;
  return AsString();
}

int64_t IbField::AsLargeInt() const {
  switch (kind_) {
    case Kind::Null:
      return 0;
    case Kind::Integer: {
      if (scale_ >= 0) return integer_ * powerOfTen(scale_);
      const int64_t divisor = powerOfTen(-scale_);
      const int64_t quotient = integer_ / divisor;
      const int64_t remainder = integer_ % divisor;
      if (2 * (remainder < 0 ? -remainder : remainder) >= divisor) {
        return quotient + (integer_ < 0 ? -1 : 1);
      }
      return quotient;
    }
    case Kind::Float:
      if (!std::isfinite(float_) || std::fabs(float_) > 9.2e18) throw Exception("Integer overflow");
      return std::llround(float_);
    case Kind::Boolean:
      return integer_;
    case Kind::Text:
    case Kind::Blob: {
      const std::string text = trimText(bytes_);
      int64_t value = 0;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        throw Exception("'" + cp1252ToUtf8(bytes_) + "' is not a valid integer value");
      }
      return value;
    }
    default:
      throw Exception("Cannot access field '" + name_ + "' as type Integer");
  }
}

int32_t IbField::AsInteger() const {
  const int64_t value = AsLargeInt();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    throw Exception("Integer overflow");
  }
  return static_cast<int32_t>(value);
}

double IbField::AsFloat() const {
  switch (kind_) {
    case Kind::Null:
      return 0;
    case Kind::Float:
      return float_;
    case Kind::Integer:
      return scale_ >= 0 ? static_cast<double>(integer_ * powerOfTen(scale_))
                         : static_cast<double>(integer_) / static_cast<double>(powerOfTen(-scale_));
    case Kind::Boolean:
      return static_cast<double>(integer_);
    case Kind::Text:
    case Kind::Blob: {
      const std::string text = trimText(bytes_);
      double value = 0;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        throw Exception("'" + cp1252ToUtf8(bytes_) + "' is not a valid floating point value");
      }
      return value;
    }
    default:
      throw Exception("Cannot access field '" + name_ + "' as type Float");
  }
}

std::optional<year_month_day> IbField::AsDate() const {
  switch (kind_) {
    case Kind::Null:
      return std::nullopt;
    case Kind::Date:
    case Kind::Timestamp:
      return year_month_day{kIscEpoch + days{integer_}};
    default:
      throw Exception("Cannot access field '" + name_ + "' as type Date");
  }
}

std::optional<local_seconds> IbField::AsDateTime() const {
  const auto dayStart = [this] { return local_days{year_month_day{kIscEpoch + days{integer_}}}; };
  const seconds timeOfDay{time_ / ISC_TIME_SECONDS_PRECISION};
  switch (kind_) {
    case Kind::Null:
      return std::nullopt;
    case Kind::Date:
      return local_seconds{dayStart()};
    case Kind::Timestamp:
      return local_seconds{dayStart()} + timeOfDay;
    case Kind::Time:
      return local_seconds{kZeroDate} + timeOfDay;
    default:
      throw Exception("Cannot access field '" + name_ + "' as type DateTime");
  }
}

// ---------------------------------------------------------------------------------------
// IbParam

void IbParam::setAsString(std::string_view text) {
  kind_ = Kind::Text;
  bytes_ = utf8ToCp1252(text);
}

void IbParam::setAsInteger(int32_t value) {
  setAsLargeInt(value);
}

void IbParam::setAsLargeInt(int64_t value) {
  kind_ = Kind::Integer;
  integer_ = value;
  bytes_.clear();
}

void IbParam::setAsDate(year_month_day date) {
  kind_ = Kind::Date;
  integer_ = (sys_days{date} - kIscEpoch).count();
  bytes_.clear();
}

void IbParam::Clear() {
  kind_ = Kind::Null;
  bytes_.clear();
  integer_ = 0;
}

// ---------------------------------------------------------------------------------------
// IbQuery

IbQuery::IbQuery(IbDatabase& database, IbTransaction& transaction)
    : database_(database), transaction_(transaction), client_(database.client()) {
  if (&transaction.DefaultDatabase() != &database) {
    throw Exception("Transaction does not belong to the dataset's database");
  }
  Guard guard(database_.mutex_);
  database_.queries_.push_back(this);
}

IbQuery::~IbQuery() {
  Guard guard(database_.mutex_);
  Close();
  dropStatement();
  auto& list = database_.queries_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

XSQLDA* IbQuery::inDa() {
  return inStorage_.empty() ? nullptr : reinterpret_cast<XSQLDA*>(inStorage_.data());
}

XSQLDA* IbQuery::outDa() {
  return outStorage_.empty() ? nullptr : reinterpret_cast<XSQLDA*>(outStorage_.data());
}

void IbQuery::SetSQL(std::string_view text) {
  Guard guard(database_.mutex_);
  Close();
  dropStatement();
  sql_ = std::string(text);
  if (ParamCheck) {
    parsed_ = parseNamedParams(sql_);
  } else {
    parsed_ = ParsedSql{sql_, {}};
  }
  params_.clear();
  positions_.clear();
  for (const std::string& name : parsed_.names) {
    auto it = std::find_if(params_.begin(), params_.end(),
                           [&](const IbParam& p) { return p.name_ == name; });
    if (it == params_.end()) {
      IbParam param;
      param.name_ = name;
      params_.push_back(std::move(param));
      it = params_.end() - 1;
    }
    positions_.push_back(static_cast<size_t>(it - params_.begin()));
  }
}

IbParam& IbQuery::ParamByName(std::string_view name) {
  Guard guard(database_.mutex_);
  const std::string wanted = upperName(name);
  for (IbParam& param : params_) {
    if (upperName(param.name_) == wanted) return param;
  }
  throw Exception("Parameter " + wanted + " not found");
}

bool IbQuery::Active() const {
  Guard guard(database_.mutex_);
  return active_;
}

bool IbQuery::Eof() const {
  Guard guard(database_.mutex_);
  return !active_ || eof_;
}

void IbQuery::requireOpen() const {
  if (!active_) throw Exception("Cannot perform this operation on a closed dataset");
}

const IbField& IbQuery::FieldList::operator[](size_t index) const {
  Guard guard(owner_.database_.mutex_);
  owner_.requireOpen();
  if (index >= owner_.fields_.size()) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  }
  return owner_.fields_[index];
}

size_t IbQuery::FieldList::Count() const {
  Guard guard(owner_.database_.mutex_);
  return owner_.fields_.size();
}

const IbField& IbQuery::FieldByName(std::string_view name) const {
  Guard guard(database_.mutex_);
  requireOpen();
  const std::string wanted = upperName(name);
  for (const IbField& field : fields_) {
    if (upperName(field.name_) == wanted) return field;
  }
  throw Exception("Field '" + std::string(name) + "' not found");
}

void IbQuery::ensureRunnable() {
  if (!database_.Connected()) database_.Open();
  if (!transaction_.Active()) transaction_.StartTransaction();
}

void IbQuery::prepare() {
  if (statement_ != 0) return;
  ISC_STATUS_ARRAY status{};
  client_.isc_dsql_allocate_statement(status, &database_.handle_, &statement_);
  client_.check(status);
  try {
    XSQLDA* out = allocateSqlda(outStorage_, kInitialColumns);
    const std::string text = utf8ToCp1252(parsed_.text);
    client_.isc_dsql_prepare(status, &transaction_.handle_, &statement_, 0, text.c_str(),
                             static_cast<unsigned short>(database_.SQLDialect), out);
    client_.check(status);
    if (out->sqld > out->sqln) {
      const short columns = out->sqld;
      out = allocateSqlda(outStorage_, columns);
      client_.isc_dsql_describe(status, &statement_, SQLDA_VERSION1, out);
      client_.check(status);
    }

    const char typeItem[] = {isc_info_sql_stmt_type};
    char info[16] = {};
    client_.isc_dsql_sql_info(status, &statement_, sizeof typeItem, typeItem, sizeof info, info);
    client_.check(status);
    statementType_ = 0;
    if (info[0] == isc_info_sql_stmt_type) {
      const auto length = static_cast<size_t>(littleEndian(info + 1, 2) & 0xFFFF);
      if (length <= 4) statementType_ = static_cast<int>(littleEndian(info + 3, length));
    }

    // Output columns: one buffer and one NULL indicator each.
    outBuffers_.assign(static_cast<size_t>(out->sqld), {});
    outNulls_.assign(static_cast<size_t>(out->sqld), 0);
    fields_.assign(static_cast<size_t>(out->sqld), IbField{});
    for (short i = 0; i < out->sqld; ++i) {
      XSQLVAR& var = out->sqlvar[i];
      const int type = var.sqltype & ~1;
      size_t size = static_cast<size_t>(var.sqllen);
      if (type == SQL_VARYING) size += sizeof(short);
      outBuffers_[static_cast<size_t>(i)].assign(std::max<size_t>(size, 1), 0);
      var.sqldata = outBuffers_[static_cast<size_t>(i)].data();
      var.sqlind = &outNulls_[static_cast<size_t>(i)];
      fields_[static_cast<size_t>(i)].name_ =
          cp1252ToUtf8(std::string_view(var.aliasname, static_cast<size_t>(var.aliasname_length)));
    }

    // Input positions: keep the described types, the values are bound at each run.
    const auto positions = static_cast<short>(std::max<size_t>(parsed_.names.size(), 1));
    XSQLDA* in = allocateSqlda(inStorage_, positions);
    client_.isc_dsql_describe_bind(status, &statement_, SQLDA_VERSION1, in);
    client_.check(status);
    if (in->sqld > in->sqln) {
      const short count = in->sqld;
      in = allocateSqlda(inStorage_, count);
      client_.isc_dsql_describe_bind(status, &statement_, SQLDA_VERSION1, in);
      client_.check(status);
    }
    inDescribed_.assign(in->sqlvar, in->sqlvar + in->sqld);
  } catch (...) {
    dropStatement();
    throw;
  }
}

void IbQuery::bindInput() {
  XSQLDA* in = inDa();
  if (in == nullptr) return;
  const auto count = static_cast<size_t>(in->sqld);
  inBuffers_.assign(count, {});
  inNulls_.assign(count, 0);
  inBlobIds_.assign(count, ISC_QUAD{});
  for (size_t i = 0; i < count; ++i) {
    XSQLVAR& var = in->sqlvar[i];
    const XSQLVAR& described = inDescribed_[i];
    var = described;
    var.sqlind = &inNulls_[i];
    const int describedType = described.sqltype & ~1;
    const IbParam* param = i < positions_.size() ? &params_[positions_[i]] : nullptr;
    std::vector<char>& buffer = inBuffers_[i];

    if (param == nullptr || param->kind_ == IbParam::Kind::Null) {
      var.sqltype = static_cast<short>(describedType | 1);
      inNulls_[i] = -1;
      buffer.assign(static_cast<size_t>(std::max<short>(described.sqllen, 8)) + sizeof(short), 0);
      var.sqldata = buffer.data();
      continue;
    }

    std::string text;
    const bool isText = param->kind_ == IbParam::Kind::Text;
    if (isText) text = param->bytes_;
    if (describedType == SQL_BLOB && param->kind_ != IbParam::Kind::Date) {
      if (!isText) text = std::to_string(param->integer_);
      inBlobIds_[i] = writeBlob(text);
      var.sqltype = SQL_BLOB | 1;
      var.sqllen = sizeof(ISC_QUAD);
      var.sqldata = reinterpret_cast<ISC_SCHAR*>(&inBlobIds_[i]);
      continue;
    }
    var.sqlscale = 0;
    switch (param->kind_) {
      case IbParam::Kind::Text:
        if (text.size() > static_cast<size_t>(std::numeric_limits<short>::max())) {
          throw Exception("Parameter " + param->name_ + ": string too long");
        }
        var.sqltype = SQL_TEXT | 1;
        var.sqllen = static_cast<short>(text.size());
        if (describedType != SQL_TEXT && describedType != SQL_VARYING) var.sqlsubtype = 0;
        buffer.assign(text.begin(), text.end());
        buffer.push_back('\0');
        break;
      case IbParam::Kind::Integer:
        var.sqltype = SQL_INT64 | 1;
        var.sqllen = sizeof(ISC_INT64);
        var.sqlsubtype = 0;
        buffer.resize(sizeof(ISC_INT64));
        std::memcpy(buffer.data(), &param->integer_, sizeof(ISC_INT64));
        break;
      case IbParam::Kind::Date: {
        var.sqltype = SQL_TYPE_DATE | 1;
        var.sqllen = sizeof(ISC_DATE);
        var.sqlsubtype = 0;
        const auto date = static_cast<ISC_DATE>(param->integer_);
        buffer.resize(sizeof(ISC_DATE));
        std::memcpy(buffer.data(), &date, sizeof date);
        break;
      }
      case IbParam::Kind::Null:
        break;
    }
    var.sqldata = buffer.data();
  }
}

void IbQuery::execute() {
  ISC_STATUS_ARRAY status{};
  XSQLDA* in = inDa();
  if (in != nullptr && in->sqld == 0) in = nullptr;
  if (statementType_ == isc_info_sql_stmt_exec_procedure && outDa()->sqld > 0) {
    client_.isc_dsql_execute2(status, &transaction_.handle_, &statement_, SQLDA_VERSION1, in,
                              outDa());
  } else {
    client_.isc_dsql_execute(status, &transaction_.handle_, &statement_, SQLDA_VERSION1, in);
  }
  client_.check(status);
}

void IbQuery::Open() {
  Guard guard(database_.mutex_);
  if (active_) return;
  ensureRunnable();
  prepare();
  const bool isSelect = statementType_ == isc_info_sql_stmt_select ||
                        statementType_ == isc_info_sql_stmt_select_for_upd;
  const bool isProcedure = statementType_ == isc_info_sql_stmt_exec_procedure && outDa()->sqld > 0;
  if (!isSelect && !isProcedure) {
    throw Exception("The statement returns no rows; run it with ExecSQL");
  }
  bindInput();
  execute();
  active_ = true;
  if (isProcedure) {
    storeRow();
    eof_ = false;
    return;
  }
  cursorOpen_ = true;
  try {
    eof_ = !fetch();
    if (eof_) clearRow();
  } catch (...) {
    Close();
    throw;
  }
}

void IbQuery::ExecSQL() {
  Guard guard(database_.mutex_);
  Close();
  ensureRunnable();
  prepare();
  bindInput();
  execute();
  if (statementType_ == isc_info_sql_stmt_select ||
      statementType_ == isc_info_sql_stmt_select_for_upd) {
    ISC_STATUS_ARRAY status{};
    client_.isc_dsql_free_statement(status, &statement_, DSQL_close);
  }
}

bool IbQuery::fetch() {
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result = client_.isc_dsql_fetch(status, &statement_, SQLDA_VERSION1, outDa());
  if (result == 100) return false;
  client_.check(status);
  storeRow();
  return true;
}

void IbQuery::Next() {
  Guard guard(database_.mutex_);
  requireOpen();
  if (eof_) return;
  if (!cursorOpen_ || !fetch()) eof_ = true;
}

void IbQuery::clearRow() {
  for (IbField& field : fields_) {
    field.kind_ = IbField::Kind::Null;
    field.bytes_.clear();
    field.integer_ = 0;
    field.time_ = 0;
    field.float_ = 0;
    field.scale_ = 0;
  }
}

void IbQuery::storeRow() {
  XSQLDA* out = outDa();
  for (short i = 0; i < out->sqld; ++i) {
    const XSQLVAR& var = out->sqlvar[i];
    IbField& field = fields_[static_cast<size_t>(i)];
    field.bytes_.clear();
    field.integer_ = 0;
    field.time_ = 0;
    field.float_ = 0;
    field.scale_ = var.sqlscale;
    const char* data = var.sqldata;
    if ((var.sqltype & 1) && *var.sqlind == -1) {
      field.kind_ = IbField::Kind::Null;
      continue;
    }
    switch (var.sqltype & ~1) {
      case SQL_TEXT:
        field.kind_ = IbField::Kind::Text;
        field.bytes_.assign(data, static_cast<size_t>(var.sqllen));
        break;
      case SQL_VARYING: {
        const auto length = static_cast<size_t>(readAs<short>(data));
        field.kind_ = IbField::Kind::Text;
        field.bytes_.assign(data + sizeof(short), length);
        break;
      }
      case SQL_SHORT:
        field.kind_ = IbField::Kind::Integer;
        field.integer_ = readAs<int16_t>(data);
        break;
      case SQL_LONG:
        field.kind_ = IbField::Kind::Integer;
        field.integer_ = readAs<int32_t>(data);
        break;
      case SQL_INT64:
        field.kind_ = IbField::Kind::Integer;
        field.integer_ = readAs<int64_t>(data);
        break;
      case SQL_FLOAT:
        field.kind_ = IbField::Kind::Float;
        field.float_ = readAs<float>(data);
        break;
      case SQL_DOUBLE:
      case SQL_D_FLOAT:
        field.kind_ = IbField::Kind::Float;
        field.float_ = readAs<double>(data);
        break;
      case SQL_TYPE_DATE:
        field.kind_ = IbField::Kind::Date;
        field.integer_ = readAs<ISC_DATE>(data);
        break;
      case SQL_TYPE_TIME:
        field.kind_ = IbField::Kind::Time;
        field.time_ = readAs<ISC_TIME>(data);
        break;
      case SQL_TIMESTAMP: {
        const auto stamp = readAs<ISC_TIMESTAMP>(data);
        field.kind_ = IbField::Kind::Timestamp;
        field.integer_ = stamp.timestamp_date;
        field.time_ = stamp.timestamp_time;
        break;
      }
      case SQL_BOOLEAN:
        field.kind_ = IbField::Kind::Boolean;
        field.integer_ = data[0] != 0 ? 1 : 0;
        break;
      case SQL_BLOB:
        field.kind_ = IbField::Kind::Blob;
        field.bytes_ = readBlob(readAs<ISC_QUAD>(data));
        break;
      default:
        field.kind_ = IbField::Kind::Null;
        break;
    }
  }
}

std::string IbQuery::readBlob(const ISC_QUAD& id) {
  ISC_STATUS_ARRAY status{};
  isc_blob_handle blob = 0;
  ISC_QUAD blobId = id;
  client_.isc_open_blob2(status, &database_.handle_, &transaction_.handle_, &blob, &blobId, 0,
                         nullptr);
  client_.check(status);
  std::string content;
  std::vector<char> segment(kBlobSegment);
  for (;;) {
    unsigned short length = 0;
    const ISC_STATUS result = client_.isc_get_segment(
        status, &blob, &length, static_cast<unsigned short>(segment.size()), segment.data());
    if (result == 0 || result == isc_segment) {
      content.append(segment.data(), length);
      continue;
    }
    if (result == isc_segstr_eof) break;
    const EIBError error = client_.error(status);
    ISC_STATUS_ARRAY ignored{};
    client_.isc_close_blob(ignored, &blob);
    throw error;
  }
  client_.isc_close_blob(status, &blob);
  client_.check(status);
  return content;
}

ISC_QUAD IbQuery::writeBlob(const std::string& bytes) {
  ISC_STATUS_ARRAY status{};
  isc_blob_handle blob = 0;
  ISC_QUAD id{};
  client_.isc_create_blob2(status, &database_.handle_, &transaction_.handle_, &blob, &id, 0,
                           nullptr);
  client_.check(status);
  for (size_t offset = 0; offset < bytes.size(); offset += kBlobSegment) {
    const size_t length = std::min(kBlobSegment, bytes.size() - offset);
    client_.isc_put_segment(status, &blob, static_cast<unsigned short>(length),
                            bytes.data() + offset);
    if (status[0] == 1 && status[1] != 0) {
      const EIBError error = client_.error(status);
      ISC_STATUS_ARRAY ignored{};
      client_.isc_cancel_blob(ignored, &blob);
      throw error;
    }
  }
  client_.isc_close_blob(status, &blob);
  client_.check(status);
  return id;
}

void IbQuery::Close() {
  Guard guard(database_.mutex_);
  if (cursorOpen_ && statement_ != 0) {
    // A cursor that cannot be closed (the connection is gone) needs nothing more.
    ISC_STATUS_ARRAY status{};
    client_.isc_dsql_free_statement(status, &statement_, DSQL_close);
  }
  cursorOpen_ = false;
  active_ = false;
  eof_ = true;
  clearRow();
}

void IbQuery::dropStatement() {
  if (statement_ != 0) {
    ISC_STATUS_ARRAY status{};
    client_.isc_dsql_free_statement(status, &statement_, DSQL_drop);
  }
  statement_ = 0;
  statementType_ = 0;
  inStorage_.clear();
  outStorage_.clear();
  inDescribed_.clear();
  outBuffers_.clear();
  outNulls_.clear();
  fields_.clear();
}

int64_t IbQuery::RowsAffected() {
  Guard guard(database_.mutex_);
  if (statement_ == 0) return 0;
  const char item[] = {isc_info_sql_records};
  char info[128] = {};
  ISC_STATUS_ARRAY status{};
  client_.isc_dsql_sql_info(status, &statement_, sizeof item, item, sizeof info, info);
  client_.check(status);
  if (info[0] != isc_info_sql_records) return 0;
  const auto total = static_cast<size_t>(littleEndian(info + 1, 2) & 0xFFFF);
  int64_t rows = 0;
  size_t pos = 3;
  const size_t end = std::min(sizeof info, 3 + total);
  while (pos + 3 <= end && info[pos] != isc_info_end) {
    const char counter = info[pos];
    const auto length = static_cast<size_t>(littleEndian(info + pos + 1, 2) & 0xFFFF);
    if (pos + 3 + length > end) break;
    const int64_t value = littleEndian(info + pos + 3, length);
    if (counter == isc_info_req_insert_count || counter == isc_info_req_update_count ||
        counter == isc_info_req_delete_count) {
      rows += value;
    }
    pos += 3 + length;
  }
  return rows;
}

}  // namespace dovra
