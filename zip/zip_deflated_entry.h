// CZipDeflatedEntry: an entry compressed before its archive exists.
//
// Compress reads a source file and writes its compressed data (the blocked
// deflate stream of zip/zip_block_deflater.h, or the bytes themselves for an
// entry that is stored) to a file the caller names, and returns this small
// record: what the archive's headers need besides the name. Later,
// CZipArchive::AddDeflated copies that data into an archive, so that
// assembling the archive is only I/O. The entry it writes is byte for byte
// the one CZipArchive::AddFileParallel writes for the same source and level.
//
// Any number of threads may call Compress at once, sharing one pool; each
// call holds at most CZipBlockDeflater::GetWindow() blocks in memory.
#ifndef KRTLOGS_ZIP_ZIP_DEFLATED_ENTRY_H_
#define KRTLOGS_ZIP_ZIP_DEFLATED_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class CZipCompressionPool;
class CZipFileHeader;

struct CZipDeflatedEntry {
  std::string m_szSourcePath;  // names the entry when the caller gives none
  uint32_t m_uAttributes = 0;  // the source's st_mode AND 0xF1FF
  time_t m_tModTime = 0;       // its st_mtime (the time of Compress if -1)
  uint16_t m_uMethod = 8;      // 8 deflated, 0 stored
  int m_iLevel = -1;           // -1 to 9; 0 for a stored entry
  uint32_t m_uCrc32 = 0;
  uint32_t m_uComprSize = 0;  // bytes of the compressed file
  uint32_t m_uUncomprSize = 0;

  // Compresses `source_path` at `level` into `deflated_path` (created, or
  // truncated when it exists), with the choices AddFile makes by default:
  // levels outside -1..9 mean -1; level 0, and sources of at most 4 bytes,
  // are stored. For a directory the file is left empty.
  //
  // Throws CZipException: cause 116 when the source cannot be found (file
  // name: the source), 112 when it is or grows beyond the 32-bit sizes (the
  // source); errno causes for the source (the source) and for the
  // compressed file (that file); zlib causes (the compressed file). After a
  // failure the compressed file is removed again. The caller removes it
  // once the archive no longer needs it.
  static CZipDeflatedEntry Compress(const std::string& source_path,
                                    const std::string& deflated_path, int level,
                                    CZipCompressionPool& pool);

  // Compresses `size` bytes in hand whole (zip/zip_whole_deflate.h) into
  // `out`, for an entry with `attributes` (st_mode AND 0xF1FF) and `mtime`,
  // with the choice AddFile makes for a file: at most 4 bytes, and level 0,
  // are stored. Returns the final record, for CZipArchive::AddCompressed.
  // Throws CZipException 505 when memory runs out, 112 beyond the 32-bit
  // sizes.
  static CZipDeflatedEntry CompressWhole(int level, const void* data,
                                         size_t size, uint32_t attributes,
                                         time_t mtime,
                                         std::vector<unsigned char>& out);

  // The record of `source_path` before compression: its attributes and
  // time, and method and level as Compress chooses them; sizes and CRC 0.
  // A missing source throws cause 116 with `error_path` as file name.
  static CZipDeflatedEntry Describe(const std::string& source_path, int level,
                                    const std::string& error_path);

  bool IsDirectory() const;
  // Sets the attributes, time and stored name of a template header; an
  // empty `name` is derived from the source path, as AddFile derives it.
  void FillTemplate(CZipFileHeader& templ, const std::string& name) const;
};

#endif  // KRTLOGS_ZIP_ZIP_DEFLATED_ENTRY_H_
