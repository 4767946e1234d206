// Numeric error codes of the qo runtime and the table that names and
// describes them. The numbers travel on the wire inside qoc::errorcode_x, so
// they are a contract with peers and must never change. The table is
// immutable and may be read from any thread.
#ifndef QO_RUNTIME_ERROR_ERROR_CODES_H_
#define QO_RUNTIME_ERROR_ERROR_CODES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qo {

struct error_entry_t {
  uint32_t code;
  const char* name;
  const char* description;
};

namespace errc {
constexpr uint32_t no_error = 0x00000000;
constexpr uint32_t generic_error = 0x20000001;
constexpr uint32_t unknown_exception = 0x20000002;
constexpr uint32_t winapi = 0x20000003;
constexpr uint32_t not_implemented = 0x20000004;
constexpr uint32_t qocman_min = 0x20000100;
constexpr uint32_t qocman_max = 0x200001FF;
constexpr uint32_t xml_min = 0x20000200;
constexpr uint32_t xml_max = 0x200002FF;
constexpr uint32_t qonet_min = 0x20000300;
constexpr uint32_t qonet_max = 0x200003FF;
constexpr uint32_t sec_min = 0x20000400;
constexpr uint32_t sec_max = 0x200004FF;
constexpr uint32_t qocman_generic = 0x20000101;
constexpr uint32_t qocman_no_engine = 0x20000102;
// The next two names share one value; peers rely on it.
constexpr uint32_t qocman_no_config_file = 0x20000103;
constexpr uint32_t qocman_bad_config_file = 0x20000103;
constexpr uint32_t qocman_bad_type = 0x20000104;
constexpr uint32_t qocman_bad_function = 0x20000105;
constexpr uint32_t qocman_bad_cgid = 0x20000106;
constexpr uint32_t qocman_bad_ruid = 0x20000107;
constexpr uint32_t qocman_readonly = 0x20000108;
constexpr uint32_t qocman_internal = 0x20000109;
constexpr uint32_t xml_generic = 0x20000201;
constexpr uint32_t xml_internal = 0x20000202;
constexpr uint32_t xml_unknown_exception = 0x20000203;
constexpr uint32_t xml_rethrow_exception = 0x20000204;
constexpr uint32_t xml_file_open = 0x20000205;
constexpr uint32_t xml_file_read = 0x20000206;
constexpr uint32_t xml_parse_error = 0x20000207;
constexpr uint32_t xml_element_missing = 0x20000208;
constexpr uint32_t xml_element_illegal = 0x20000209;
constexpr uint32_t xml_element_invalid = 0x2000020A;
constexpr uint32_t xml_attribute_missing = 0x2000020B;
constexpr uint32_t xml_attribute_illegal = 0x2000020C;
constexpr uint32_t xml_attribute_invalid = 0x2000020D;
constexpr uint32_t qonet_generic = 0x20000301;
constexpr uint32_t qonet_sock_timeout = 0x20000302;
// The next two names share one value; peers rely on it.
constexpr uint32_t qonet_malformed_address = 0x20000303;
constexpr uint32_t qonet_bad_address = 0x20000303;
constexpr uint32_t sec_access_denied = 0x20000401;
constexpr uint32_t sec_logon_fail = 0x20000402;
constexpr uint32_t sec_generic = 0x20000403;
}  // namespace errc

// The 43 rows in lookup order: where two rows share a code, the first wins.
extern const error_entry_t error_table[];
extern const size_t error_table_size;

// First row whose code equals `code`, or null.
const error_entry_t* find_error(uint32_t code);

// The description of `code`, or "unkown qo::errorcode 0x<HEX>" when the table
// has no row for it (the misspelling is part of the text).
std::string error_text(uint32_t code);

}  // namespace qo

#endif  // QO_RUNTIME_ERROR_ERROR_CODES_H_
