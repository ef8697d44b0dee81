/* SPDX-License-Identifier: MIT */
/* c_smoke.c - the public header used from C11: it compiles, links against
 * the shared library, and a few calls behave. */
#include <stdio.h>
#include <string.h>

/* The module-level functions are behind a fence; this test uses them too. */
#define TAVIK_MODULE_API
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

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

    /* The handle-based interface: a model from a profile of two languages,
     * one session, candidates, and a text that is not NUL-terminated. */
    {
        static const unsigned char profile[] = {'T', 'A', 'V', 'I', 'K', '0', '0', '1', 1, 0,
                                                0,   0,   1,   0,   0,   0,   1,   0,   0, 0,
                                                100, 0,   0,   0,   0,   0,   0,   0,   2, 0,
                                                0,   0,   0,   0,   0,   0, /* header: 2 langs */
                                                3,   'a', 'a', 'a', 1,   0,   0,   0,   1, 0,
                                                'a', 1,   0,   0,   0, /* aaa: "a" */
                                                3,   'b', 'b', 'b', 1,   0,   0,   0,   1, 0,
                                                'b', 1,   0,   0,   0}; /* bbb: "b" */
        const char text[] = {'a', ' ', 'a', '\0', 'b', 'X'};
        tavik_model *model = NULL;
        tavik_session *session = NULL;
        CHECK(tavik_model_open_memory(profile, sizeof profile, &model) == TAVIK_OK);
        CHECK(tavik_model_language_count(model) == 2);
        CHECK(strcmp(tavik_model_language_code(model, 1), "bbb") == 0);
        CHECK(tavik_session_new(model, &session) == TAVIK_OK);
        tavik_model_free(model); /* the session keeps it */
        tavik_session_set_min_ngrams(session, 0);
        CHECK(tavik_session_identify(session, text, 5) == TAVIK_AMBIGUOUS);
        CHECK(tavik_session_ngram_count(session) == 2);
        CHECK(strcmp(tavik_session_ngram(session, 0), "a") == 0);
        CHECK(tavik_session_set_candidates(session, "bbb,ccc") == TAVIK_INVALID);
        CHECK(strcmp(tavik_session_last_error(session), "unknown language code 'ccc'") == 0);
        CHECK(tavik_session_set_candidates(session, "aaa") == TAVIK_OK);
        CHECK(tavik_session_identify(session, text, 3) == TAVIK_OK);
        CHECK(strcmp(tavik_session_best_code(session), "aaa") == 0);
        CHECK(tavik_session_result_count(session) == 1);
        CHECK(strcmp(tavik_session_result_json(session),
                     "{\"status\":0,\"best\":\"aaa\",\"ngrams\":1,\"results\":[{\"code\":"
                     "\"aaa\",\"distance\":0.0,\"confidence\":1.0}]}") == 0);
        {
            /* The batch call and its record from C: one text alone, one
             * refused. */
            const char *texts[2];
            uint64_t lengths[2] = {3, 4};
            tavik_outcome outcomes[2];
            texts[0] = text;
            texts[1] = NULL;
            CHECK(tavik_session_identify_batch(session, texts, lengths, 2, outcomes) == TAVIK_OK);
            CHECK(outcomes[0].status == TAVIK_OK && strcmp(outcomes[0].language, "aaa") == 0);
            CHECK(outcomes[0].result_count == 1 && outcomes[0].results != NULL);
            CHECK(strcmp(outcomes[0].results[0].code, "aaa") == 0);
            CHECK(outcomes[0].distance == 0.0 && outcomes[0].probability == -1.0);
            CHECK(outcomes[1].status == TAVIK_INVALID && outcomes[1].result_count == 0);
            CHECK(strcmp(tavik_session_last_error(session), "null text") == 0);
        }
        tavik_session_free(session);
    }

    if (failures == 0) printf("c_smoke: ok\n");
    return failures == 0 ? 0 : 1;
}
