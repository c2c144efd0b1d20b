/* leafsift: finds the blank pages of PDF documents and writes copies without them.
 *
 * The library serves one call at a time: its error text and result texts are process-wide
 * buffers, so a host that calls from several threads must serialise every call into the
 * library. Nothing here starts threads, takes locks, prints or aborts.
 *
 * Returned texts are owned by the library. Never free them; copy what you need to keep,
 * because the next call named with each function below rewrites them. */
#ifndef LEAFSIFT_H
#define LEAFSIFT_H

#if defined(_WIN32)
#  if defined(LEAFSIFT_BUILDING)
#    define LEAFSIFT_API __declspec(dllexport)
#  else
#    define LEAFSIFT_API __declspec(dllimport)
#  endif
#else
#  define LEAFSIFT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the library up (the built-in fonts) and clears the error text. Always returns 1.
 * Call it once before the first detect or remove; calling it again is harmless. */
LEAFSIFT_API int leafsift_init(void);

/* Empties both result texts, forgets the statistics, releases the font data and clears the
 * error text. leafsift_init may be called again afterwards. */
LEAFSIFT_API void leafsift_cleanup(void);

/* The one-line English reason why the last failing call failed, "" after a call that
 * succeeded. Never null. Valid until the next call into the library. */
LEAFSIFT_API const char *leafsift_last_error(void);

/* The result of the immediately preceding leafsift_remove when that call succeeded, as
 * {"before":N,"after":M,"removed":[...]}; null otherwise (any detect or remove in between,
 * a failed remove, or leafsift_cleanup makes it null). Valid until the next detect, remove
 * or cleanup. */
LEAFSIFT_API const char *leafsift_stats(void);

/* The blank pages of the PDF file at input_path, as a JSON list of 1-based page numbers such
 * as [2,5] ("[]" when none is blank), or null on failure with leafsift_last_error set.
 * threshold is a percentage: a pixel is light when its darkest channel is at least
 * 255 - threshold, and a page is blank when at least threshold percent of its pixels are
 * light. It is clamped first: 0 or below means 99, above 100 means 100.
 * The text stays valid until the next successful detect, and reads "" after cleanup. */
LEAFSIFT_API const char *leafsift_detect(const char *input_path, int threshold);

/* Writes output_path as a copy of input_path without its blank pages (threshold as for
 * leafsift_detect, clamped the same way). Returns 1 on success, with the counts in
 * leafsift_stats; returns 0 on failure with leafsift_last_error set, leaving output_path
 * untouched. */
LEAFSIFT_API int leafsift_remove(const char *input_path, const char *output_path, int threshold);

/* The calls below take an options text: null for every default, or a JSON object such as
 * {"rule":"scan","margin_mm":8}. Its keys:
 *   "rule"         "light" (default): the rule of leafsift_detect; "scan": the scan-aware rule
 *   "threshold"    whole number, as the threshold of leafsift_detect (light rule only)
 *   "margin_mm"    scan rule: width of the outer margin, where dark marks at the sheet's edge
 *                  (scanner edges and bands, punch holes) are not counted as ink; 0 to 50
 *   "speck_mm2"    scan rule: marks smaller than this are dust; 0 to 100
 *   "contrast"     scan rule: how much darker than the page's own paper a pixel must be to be
 *                  ink, in levels of 0 to 255; 1 to 255
 *   "max_ink_mm2"  scan rule: a page is blank while the ink that counts stays below this
 *                  area; 0 to 10000
 *   "faint_mm2"    scan rule: marks that never get dark (light stamps, hairs, show-through)
 *                  count only when together they cover this area; 0 to 10000
 * An unknown key, a value of the wrong type or out of range, or a text that is no JSON object
 * fails the call with a message naming the key. With {"rule":"light","threshold":t} the
 * results are exactly those of the plain calls with threshold t. */

/* As leafsift_detect, under the options. */
LEAFSIFT_API const char *leafsift_detect_ex(const char *input_path, const char *options);

/* As leafsift_remove, under the options; the counts in leafsift_stats. */
LEAFSIFT_API int leafsift_remove_ex(const char *input_path, const char *output_path,
                                    const char *options);

/* What every verdict rests on, one object per page:
 * {"pages":[{"page":1,"text":false,"unread":false,"light":99.87,"ink_mm2":null,
 * "blank":true},...]}. "light" is the light rule's share of light pixels in percent, "ink_mm2"
 * the scan rule's ink that counts; the figure of the rule not in force is null, and so are
 * both for a page that was not rendered (text was found, or it could not be drawn). The
 * verdicts are those of leafsift_detect_ex with the same options. Null on failure with
 * leafsift_last_error set; the text stays valid until the next analyze or cleanup. */
LEAFSIFT_API const char *leafsift_analyze(const char *input_path, const char *options);

#ifdef __cplusplus
}
#endif

#endif /* LEAFSIFT_H */
