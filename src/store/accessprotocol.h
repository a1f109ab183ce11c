#pragma once

// The stream in which the Access reader (the separate program bukurea-jet)
// hands one table of an Access file to the store. Plain C++: the reader
// includes it without Qt.
//
// All integers are little-endian.
//
//   stream   = magic version table row* end
//            | magic version failure          (also allowed after rows)
//   magic    = "BKJT"                         version = u8 1
//   table    = 'T' u16 columnCount, columnCount × column, u64 rowCountHint
//   column   = u16 nameLength, name (UTF-8), u8 jetType, u8 scale
//   row      = 'R' columnCount × value
//   value    = u8 kind, then by kind:
//                Null     nothing
//                Integer  i64
//                Real     f64 (IEEE 754 bits)
//                Decimal  u32 length, ASCII digits with optional '-' and '.'
//                Text     u32 length, UTF-8
//                Date     u32 length, ASCII "YYYY-MM-DDTHH:MM:SS[.mmm]"
//                Blob     u32 length, bytes
//   end      = 'E' u64 rowsWritten
//   failure  = 'F' u8 code, u16 length, detail (UTF-8, for the log)
//
// rowCountHint is the table's own count of rows, for progress only.
namespace store::access {

inline constexpr char Magic[4] = {'B', 'K', 'J', 'T'};
inline constexpr unsigned char Version = 1;

enum Tag : unsigned char {
    TableTag = 'T',
    RowTag = 'R',
    EndTag = 'E',
    FailureTag = 'F',
};

enum class Kind : unsigned char {
    Null = 0,
    Integer = 1,
    Real = 2,
    Decimal = 3,
    Text = 4,
    Date = 5,
    Blob = 6,
};

// Column types as the Access file declares them.
enum JetType : unsigned char {
    JetBool = 0x01,
    JetByte = 0x02,
    JetInteger = 0x03,
    JetLong = 0x04,
    JetCurrency = 0x05,
    JetSingle = 0x06,
    JetDouble = 0x07,
    JetDateTime = 0x08,
    JetBinary = 0x09,
    JetText = 0x0a,
    JetOle = 0x0b,
    JetMemo = 0x0c,
    JetGuid = 0x0f,
    JetDecimal = 0x10,
};

// Why the reader gave up (the failure record's code; also its exit status).
enum class Failure : unsigned char {
    Usage = 1,
    NotAccess = 2,  // no Access header, or shorter than its first pages
    Unreadable = 3, // cannot be opened or read
    Damaged = 4,    // the file's structures do not hold together
    NoTable = 5,    // the table asked for does not exist
    TooLarge = 6,   // a value beyond the stream's limits
    Internal = 7,
};

// Limits both sides keep; the store refuses anything larger.
inline constexpr unsigned MaxColumns = 255;
inline constexpr unsigned MaxNameBytes = 1024;
inline constexpr unsigned MaxValueBytes = 64u * 1024 * 1024;
inline constexpr unsigned MaxRowBytes = 128u * 1024 * 1024;
inline constexpr unsigned MaxDetailBytes = 4096;

} // namespace store::access
