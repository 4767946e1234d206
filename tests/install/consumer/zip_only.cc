// Writes a zip archive holding one file with the zip writer alone: built
// through the pkg-config module qo-zip, it links libqo_zip and nothing of
// the ORB.
//
//   zip_only ARCHIVE FILE
#include <iostream>

#include "zip/zip_archive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: zip_only ARCHIVE FILE\n";
    return 2;
  }
  CZipArchive zip;
  zip.Open(argv[1], CZipArchive::OpenCreate, 0);
  zip.AddFile(argv[2], "hello.txt");
  zip.Close();
  std::cout << "archive written\n";
  return 0;
}
