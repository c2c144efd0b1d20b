#include "support/stream_fixture.h"

#include <cstdlib>
#include <cstring>

#include "pdfcore/objects.h"
#include "render/filters.h"
#include "support/pdf_builder.h"

bool load_pdf_text(const std::string &pdf, pdf_doc &doc) {
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.empty() ? 1 : pdf.size())));
  if (!bytes) return false;
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "t", doc) == 0;
}

std::string renderer_decoded(const std::string &dict, const std::string &data, int *status) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  b.stream(4, dict, data);
  b.xref_trailer("/Root 1 0 R");
  pdf_doc doc;
  *status = -1;
  if (!load_pdf_text(b.str(), doc)) return "";
  const pdf_obj *o = obj_find(doc.objs, 4);
  if (!o) return "";
  int32_t n = 0;
  c_ptr<uint8_t> p = rvx_stream_decode(doc, *o, &n, status);
  return p ? std::string(reinterpret_cast<const char *>(p.get()), static_cast<size_t>(n)) : "";
}
