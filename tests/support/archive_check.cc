#include "tests/support/archive_check.h"

#include <zlib.h>

#include <cstdio>
#include <sstream>

#include "tests/support/process.h"

namespace testing_support {

namespace {

ReaderVerdict Run(const std::string& reader,
                  const std::vector<std::string>& argv) {
  ReaderVerdict v;
  v.reader = reader;
  ProcessResult r = RunProcess(argv);
  v.status = r.status;
  v.output = r.out + r.err;
  v.ok = r.status == 0;
  return v;
}

// Lists every entry as "name<TAB>length<TAB>crc32 in hex", computed by
// Python from the bytes it extracted.
const char kListScript[] =
    "import zipfile,sys,zlib\n"
    "z=zipfile.ZipFile(sys.argv[1])\n"
    "for i in z.infolist():\n"
    "    d=z.read(i)\n"
    "    print('%s\\t%d\\t%08x' % (i.filename, len(d), zlib.crc32(d)))\n";

std::string Listing(const std::vector<ExpectedEntry>& expected) {
  std::ostringstream out;
  for (const ExpectedEntry& e : expected) {
    unsigned long crc = crc32(0L, Z_NULL, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(e.second.data()),
                  e.second.size());
    char line[64];
    std::snprintf(line, sizeof(line), "\t%zu\t%08lx\n", e.second.size(), crc);
    out << e.first << line;
  }
  return out.str();
}

}  // namespace

bool ArchiveCheck::ok() const {
  if (verdicts.empty()) return false;
  for (const ReaderVerdict& v : verdicts) {
    if (!v.ok) return false;
  }
  return true;
}

const ReaderVerdict* ArchiveCheck::Find(const std::string& reader) const {
  for (const ReaderVerdict& v : verdicts) {
    if (v.reader == reader) return &v;
  }
  return nullptr;
}

std::string ArchiveCheck::Report() const {
  std::ostringstream out;
  for (const ReaderVerdict& v : verdicts) {
    if (v.ok) continue;
    out << v.reader << " failed with status " << v.status << ":\n"
        << v.output << "\n";
  }
  return out.str();
}

ArchiveCheck CheckArchive(const std::string& path,
                          const std::vector<ExpectedEntry>* expected) {
  ArchiveCheck check;

  ReaderVerdict unzip = Run("unzip -tq", {"unzip", "-tq", path});
  if (unzip.status == 1 &&
      unzip.output.find("zipfile is empty") != std::string::npos) {
    unzip.ok = true;
  }
  check.verdicts.push_back(unzip);

  check.verdicts.push_back(Run("7z t", {"7z", "t", path}));

  check.verdicts.push_back(
      Run("python zipfile",
          {"python3", "-c",
           "import zipfile,sys; "
           "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)",
           path}));

  if (expected != nullptr) {
    ReaderVerdict contents =
        Run("python contents", {"python3", "-c", kListScript, path});
    const std::string want = Listing(*expected);
    if (contents.ok && contents.output != want) {
      contents.ok = false;
      contents.output =
          "entries read back:\n" + contents.output + "expected:\n" + want;
    }
    check.verdicts.push_back(contents);
  }
  return check;
}

}  // namespace testing_support
