// The settings object's start-up work on the settings template (open the file, Init, Save)
// against libxml2 parsing and writing the same file, in one run. The file is written the way the
// settings file always is (temporary file, flush to disk, rename), so two baselines are given:
// libxml2's plain write, and the same write made durable as ours is. The ratios are what matter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <unistd.h>

#include <filesystem>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "qvacom/settings/configure.h"
#include "qvacom/settings/xml_doc.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The template lies beside the programs, as the service finds it.
fs::path TemplateFile() { return fs::read_symlink("/proc/self/exe").parent_path() / "vodrik_e.xmt"; }

struct Folder {
  qva::testing::TempDir dir;
  fs::path file = dir.path() / "vodrik_e.xml";
  Folder() { fs::copy_file(TemplateFile(), file, fs::copy_options::overwrite_existing); }
};

void BM_ConfigureOpenInitSave(benchmark::State& state) {
  Folder folder;
  com::Bstr name(folder.file.string()), cur(folder.dir.path().string() + "/");
  for (auto _ : state) {
    auto wrapper = com::CreateObject<qva::CQVAXMLDoc>();
    auto config = com::CreateObject<qva::CQVAConfigure>();
    if ((*wrapper)->Open(name.get()) != S_OK || (*config)->put_CurDir(cur.get()) != S_OK ||
        (*config)->Init((*wrapper)->Identity()) != S_OK || (*config)->Save() != S_OK) {
      state.SkipWithError("the settings object failed");
      break;
    }
  }
}
BENCHMARK(BM_ConfigureOpenInitSave)->Unit(benchmark::kMicrosecond);

// Init and Save alone, on a document opened once.
void BM_ConfigureInitSave(benchmark::State& state) {
  Folder folder;
  com::Bstr name(folder.file.string()), cur(folder.dir.path().string() + "/");
  auto wrapper = com::CreateObject<qva::CQVAXMLDoc>();
  if ((*wrapper)->Open(name.get()) != S_OK) state.SkipWithError("cannot open the template");
  for (auto _ : state) {
    auto config = com::CreateObject<qva::CQVAConfigure>();
    if ((*config)->put_CurDir(cur.get()) != S_OK || (*config)->Init((*wrapper)->Identity()) != S_OK ||
        (*config)->Save() != S_OK) {
      state.SkipWithError("the settings object failed");
      break;
    }
  }
}
BENCHMARK(BM_ConfigureInitSave)->Unit(benchmark::kMicrosecond);

// libxml2 alone: parse the file as the DOM does and write it back; with `durable`, through a
// temporary file flushed to disk and renamed, as the DOM saves.
void Libxml2ParseWrite(benchmark::State& state, bool durable) {
  Folder folder;
  const std::string path = folder.file.string(), temp = path + ".tmp";
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
    if (!doc) {
      state.SkipWithError("libxml2 cannot read the template");
      break;
    }
    const bool written = xmlSaveFileEnc(durable ? temp.c_str() : path.c_str(), doc, "UTF-8") >= 0;
    xmlFreeDoc(doc);
    if (written && durable) {
      const int fd = open(temp.c_str(), O_RDWR);
      fsync(fd);
      close(fd);
      rename(temp.c_str(), path.c_str());
      const int dir = open(folder.dir.path().c_str(), O_RDONLY | O_DIRECTORY);
      fsync(dir);
      close(dir);
    }
    if (!written) {
      state.SkipWithError("libxml2 cannot write the file");
      break;
    }
  }
}
void BM_Libxml2ParseWrite(benchmark::State& state) { Libxml2ParseWrite(state, false); }
void BM_Libxml2ParseWriteDurable(benchmark::State& state) { Libxml2ParseWrite(state, true); }
BENCHMARK(BM_Libxml2ParseWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libxml2ParseWriteDurable)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
