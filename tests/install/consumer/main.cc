// Writes a zip archive holding one file, then asks a log manager that no
// one serves for its range and reports the translated failure.
//
//   qo_consumer ARCHIVE FILE
#include <cstdint>
#include <iostream>
#include <memory>

#include "qoc_log.hh"
#include "runtime/corba/orb.h"
#include "runtime/error/exception.h"
#include "runtime/log/log_module.h"
#include "zip/zip_archive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: qo_consumer ARCHIVE FILE\n";
    return 2;
  }
  CZipArchive zip;
  zip.Open(argv[1], CZipArchive::OpenCreate, 0);
  zip.AddFile(argv[2], "hello.txt");
  zip.Close();
  std::cout << "archive written\n";

  qo::corba::orb_t::init("iiop://127.0.0.1", false, 2);
  qo::corba::orb_t::start_instance();
  int status = 1;
  try {
    std::unique_ptr<qo::log::manager_if_t> unit(
        qo::log::proxy_create("corbaloc:iiop:127.0.0.1:1/log"));
    uint32_t first = 0;
    uint32_t last = 0;
    unit->range(first, last);
    std::cout << "a log manager answered on port 1\n";
  } catch (const qo::corba::exception_t& e) {
    std::cout << "no log manager: " << e.what() << "\n";
    status = 0;
  }
  qo::corba::orb_t::stop_instance();
  qo::corba::orb_t::destroy();
  return status;
}
