#include "runtime/error/error_codes.h"

#include "runtime/error/format.h"

namespace qo {

const error_entry_t error_table[] = {
    {errc::no_error, "no_error", "this is not an error"},
    {errc::generic_error, "generic_error", "Generic error"},
    {errc::unknown_exception, "unknown_exception",
     "unknown exception encountered"},
    {errc::winapi, "winapi", "Windows API error"},
    {errc::not_implemented, "not_implemented", "function is not implemented"},
    {errc::qocman_min, "qocman_min", "QOCMAN min error number"},
    {errc::qocman_max, "qocman_max", "QOCMAN max error number"},
    {errc::xml_min, "xml_min", "XML min error number"},
    {errc::xml_max, "xml_max", "XML max error number"},
    {errc::qonet_min, "qonet_min", "qo::net min error number"},
    {errc::qonet_max, "qonet_max", "qo::net max error number"},
    {errc::sec_min, "sec_min", "security min error number"},
    {errc::sec_max, "sec_max", "security max error number"},
    {errc::qocman_generic, "qocman_generic", "control engine generic error"},
    {errc::qocman_no_engine, "qocman_no_engine",
     "control engine does not exist"},
    {errc::qocman_no_config_file, "qocman_no_config_file",
     "no configuration file"},
    {errc::qocman_bad_config_file, "qocman_bad_config_file",
     "bad configuration file"},
    {errc::qocman_bad_type, "qocman_bad_type",
     "bad control type specified in configuration file"},
    {errc::qocman_bad_function, "qocman_bad_function",
     "bad function name specified in configuration file"},
    {errc::qocman_bad_cgid, "qocman_bad_cgid", "bad change group id"},
    {errc::qocman_bad_ruid, "qocman_bad_ruid", "bad ruid"},
    {errc::qocman_readonly, "qocman_readonly", "control is read-only"},
    {errc::qocman_internal, "qocman_internal",
     "control engine internal failure"},
    {errc::xml_generic, "xml_generic", "xml generic error"},
    {errc::xml_internal, "xml_internal", "xml internal error"},
    {errc::xml_unknown_exception, "xml_unknown_exception",
     "xml unknown exception"},
    {errc::xml_rethrow_exception, "xml_rethrow_exception", "xml error"},
    {errc::xml_file_open, "xml_file_open", "xml file open failure"},
    {errc::xml_file_read, "xml_file_read", "xml file read failure"},
    {errc::xml_parse_error, "xml_parse_error", "xml parse error"},
    {errc::xml_element_missing, "xml_element_missing", "xml element missing"},
    {errc::xml_element_illegal, "xml_element_illegal", "xml element illegal"},
    {errc::xml_element_invalid, "xml_element_invalid", "xml element invalid"},
    {errc::xml_attribute_missing, "xml_attribute_missing",
     "xml attribute missing"},
    {errc::xml_attribute_illegal, "xml_attribute_illegal",
     "xml attribute illegal"},
    {errc::xml_attribute_invalid, "xml_attribute_invalid",
     "xml attribute invalid"},
    {errc::qonet_generic, "qonet_generic", "network generic error"},
    {errc::qonet_sock_timeout, "qonet_sock_timeout", "sockets timeout"},
    {errc::qonet_malformed_address, "qonet_malformed_address",
     "malformed network address"},
    {errc::qonet_bad_address, "qonet_bad_address", "bad network address"},
    {errc::sec_access_denied, "sec_access_denied", "access denied"},
    {errc::sec_logon_fail, "sec_logon_fail",
     "invalid username or bad password"},
    {errc::sec_generic, "sec_generic", "generic security error"},
};

const size_t error_table_size = sizeof(error_table) / sizeof(error_table[0]);

const error_entry_t* find_error(uint32_t code) {
  for (size_t i = 0; i < error_table_size; ++i) {
    if (error_table[i].code == code) return &error_table[i];
  }
  return nullptr;
}

std::string error_text(uint32_t code) {
  const error_entry_t* row = find_error(code);
  if (row != nullptr) return row->description;
  return format("unkown qo::errorcode 0x%X", code);
}

}  // namespace qo
