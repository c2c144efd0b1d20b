// Time and peak memory of the tool on files built to cost without end: nested forms, a million
// fills, an image drawn thousands of times, wide strokes, thousands of pages sharing a heavy
// content, Flate bombs chained, soft masks the size of a wall, a Type 3 font of bombs. Each file
// goes through detect and through the scan rule's per-page analysis, each in a child process.
//
//   hostile_bench [DIR]     writes the files to DIR (default a temporary folder) and prints
//                           one row per file and call: size, seconds, peak resident MiB.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <malloc.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

std::string repeat(const std::string &s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string deflate(const std::string &data) {
  uLongf n = compressBound(static_cast<uLong>(data.size()));
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef *>(out.data()), &n,
            reinterpret_cast<const Bytef *>(data.data()), static_cast<uLong>(data.size()), 9);
  out.resize(n);
  return out;
}

// Objects by number; the file gets a classic cross-reference table.
std::string pdf(const std::map<int, std::string> &objs) {
  std::string out = "%PDF-1.4\n";
  std::map<int, size_t> at;
  for (const auto &[num, body] : objs) {
    at[num] = out.size();
    out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
  }
  const int size = objs.rbegin()->first + 1;
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
  char line[32];
  for (int i = 1; i < size; ++i) {
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", at.count(i) ? at[i] : size_t(0));
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string stream(const std::string &dict, const std::string &data, bool flate = true) {
  const std::string d = flate ? deflate(data) : data;
  return "<< " + dict + (flate ? " /Filter /FlateDecode" : "") + " /Length " +
         std::to_string(d.size()) + " >>\nstream\n" + d + "\nendstream";
}

// Pages sharing content 3; page objects from 100 on; more objects as given.
std::string doc(const std::string &content, const std::string &resources,
                std::map<int, std::string> more = {}, int pages = 1) {
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(100 + i) + " 0 R ";
  more[1] = "<< /Type /Catalog /Pages 2 0 R >>";
  more[2] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  more[3] = stream("", content);
  for (int i = 0; i < pages; ++i)
    more[100 + i] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << " +
                    resources + " >> /Contents 3 0 R >>";
  return pdf(more);
}

const std::string k_form = "/Type /XObject /Subtype /Form /BBox [0 0 612 792]";
const std::string k_white = "1 1 1 rg 0 0 612 792 re f\n";

std::map<std::string, std::string> fixtures() {
  std::map<std::string, std::string> f;
  f["forms-1000x1000"] =
      doc(repeat("/A Do\n", 1000), "/XObject << /A 5 0 R >>",
          {{5, stream(k_form + " /Resources << /XObject << /B 6 0 R >> >>", repeat("/B Do\n", 1000))},
           {6, stream(k_form, "1 1 1 rg 0 0 1 1 re f")}});
  std::map<int, std::string> chain;
  for (int i = 0; i < 20; ++i)
    chain[10 + i] = stream(k_form + " /Resources << /XObject << /N " + std::to_string(11 + i) +
                               " 0 R >> >>",
                           "/N Do /N Do /N Do /N Do");
  chain[30] = stream(k_form, k_white);
  f["form-chain-4^20"] = doc("/N Do", "/XObject << /N 10 0 R >>", chain);
  f["fills-million"] = doc(repeat(k_white, 1000000), "");
  f["image-drawn-20000"] =
      doc(repeat("q 612 0 0 792 0 0 cm /I Do Q\n", 20000), "/XObject << /I 5 0 R >>",
          {{5, stream("/Type /XObject /Subtype /Image /Width 2000 /Height 2000 /ColorSpace "
                      "/DeviceGray /BitsPerComponent 8",
                      std::string(2000 * 2000, '\xff'))}});
  f["wide-curves"] =
      doc("1 1 1 RG 100 w 0 0 m " + repeat("612 792 612 0 0 792 c ", 300000) + "S", "");
  f["pages-3000-sharing"] = doc(repeat(k_white, 20000), "", {}, 3000);
  f["bytes-45MB"] = doc(repeat("1 0 0 1 0 0 cm\n", 3000000), "");
  std::string inner = deflate(repeat("1 1 1 rg 0 0 1 1 re f\n", 20000000));
  std::map<int, std::string> objs = {
      {1, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
      {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>"},
      {4, "<< /Filter [/FlateDecode /FlateDecode] /Length " + std::to_string(deflate(inner).size()) +
              " >>\nstream\n" + deflate(inner) + "\nendstream"}};
  f["chained-flate"] = pdf(objs);
  f["masked-wall"] =
      doc("q 612 0 0 792 0 0 cm /I Do Q", "/XObject << /I 5 0 R >>",
          {{5, stream("/Type /XObject /Subtype /Image /Width 20000 /Height 20000 /ColorSpace "
                      "/DeviceGray /BitsPerComponent 8 /SMask 6 0 R",
                      std::string(4000, '\xff'))},
           {6, stream("/Type /XObject /Subtype /Image /Width 20000 /Height 20000 /ColorSpace "
                      "/DeviceGray /BitsPerComponent 8",
                      std::string(4000, '\xff'))}});
  std::string fonts, show, procs, names;
  for (int i = 0; i < 50; ++i) {
    fonts += "/F" + std::to_string(i) + " 5 0 R ";
    show += "/F" + std::to_string(i) + " 10 Tf (abc) Tj ";
  }
  for (int i = 0; i < 256; ++i) {
    procs += "/g" + std::to_string(i) + " 6 0 R ";
    names += "/g" + std::to_string(i) + " ";
  }
  f["type3-bomb"] = doc(
      "BT " + show + "ET", "/Font << " + fonts + ">>",
      {{5, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [0.001 0 0 0.001 0 0] "
           "/CharProcs << " + procs + ">> /Encoding << /Differences [0 " + names + "] >> >>"},
       {6, stream("", "0 0 m\n" + std::string(2000000, ' '))}});
  return f;
}

struct run_result {
  int status = -1;
  double seconds = 0;
  double mib = 0;
};

run_result run(const std::vector<std::string> &args) {
  std::vector<std::string> a = args;
  std::vector<char *> argv;
  for (std::string &s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  run_result r;
  const auto start = std::chrono::steady_clock::now();
  // The child starts as a copy of this process, whose pages count towards its peak until it
  // runs the tool: callers free their fixtures and trim the heap first.
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return r;
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid) return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.mib = static_cast<double>(ru.ru_maxrss) / 1024.0;
  return r;
}

}  // namespace

int main(int argc, char **argv) {
  std::string dir;
  if (argc > 1) {
    dir = argv[1];
  } else {
    char tmpl[] = "/tmp/hostile-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    dir = tmpl;
  }
  std::printf("%-20s %10s  %-8s %8s %8s %s\n", "file", "bytes", "call", "seconds", "MiB", "status");
  std::fflush(stdout);
  std::vector<std::pair<std::string, size_t>> files;
  {
    for (const auto &[name, bytes] : fixtures()) {
      const std::string path = dir + "/" + name + ".pdf";
      FILE *f = std::fopen(path.c_str(), "wb");
      if (!f) return 1;
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      files.push_back({name, bytes.size()});
    }
  }
  malloc_trim(0);
  for (const auto &[name, size] : files) {
    const std::string path = dir + "/" + name + ".pdf";
    const std::vector<std::pair<std::string, std::vector<std::string>>> calls = {
        {"detect", {LEAFSIFT_TOOL_PATH, "detect", path}},
        {"analyze", {LEAFSIFT_TOOL_PATH, "pages", "--rule", "scan", path}}};
    for (const auto &[call, args] : calls) {
      const run_result r = run(args);
      std::printf("%-20s %10zu  %-8s %8.2f %8.1f %d\n", name.c_str(), size, call.c_str(),
                  r.seconds, r.mib, r.status);
      std::fflush(stdout);
    }
  }
  return 0;
}
