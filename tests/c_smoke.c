/* c_smoke.c - the public header used from C11: it compiles, links against
 * the shared library, and a few calls behave. */
#include <stdio.h>
#include <string.h>

/* The module-level functions are behind a fence; this test uses them too. */
#define TAVIK_MODULE_API
#include "tavik/tavik_api.h"

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

int main(void) {
    struct tavik_ngram entry = {NULL, 0, 0}; /* the record and the function share a name */
    tavik_ngram_list list = {NULL, 0, 0};
    const tavik_state *g = tavik_get_state();

    CHECK(strcmp(tavik_version(), "1.0.0") == 0);
    CHECK(g->min_ngrams == 0); /* no defaulting call yet */
    CHECK(tavik_is_letter('a') == 1 && tavik_is_letter('1') == 0);

    CHECK(tavik_extract_ngrams("ana na") == TAVIK_OK);
    CHECK(g->min_ngrams == 40);
    CHECK(tavik_ngram_count() == 15);
    CHECK(strcmp(tavik_ngram(0), "a") == 0 && tavik_ngram_rank(0) == 1);

    CHECK(tavik_ngram_extract("ab", 5, &list) == TAVIK_OK && list.count == 8);
    entry = list.items[0];
    CHECK(strcmp(entry.text, "a") == 0 && entry.count == 1 && entry.order == 0);
    tavik_ngram_list_free(&list);

    CHECK(tavik_identify("text") == TAVIK_NO_PROFILE);
    CHECK(strcmp(tavik_last_error(), "no profile") == 0);
    CHECK(strcmp(tavik_result_json(),
                 "{\"status\":3,\"best\":\"\",\"ngrams\":15,\"results\":[]}") == 0);

    if (failures == 0) printf("c_smoke: ok\n");
    return failures == 0 ? 0 : 1;
}
