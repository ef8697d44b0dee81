/* SPDX-License-Identifier: MIT */
/* main.c - identifies one sentence against the profile named on the command
 * line, through the installed header and library; prints the version alone
 * when no profile is named.  Output: "tavik VERSION", then "STATUS CODE". */
#include <stdio.h>
#include <tavik/tavik_api.h>

int main(int argc, char **argv) {
    printf("tavik %s\n", tavik_version());
    if (argc < 2)
        return 0;
    if (tavik_load_profile(argv[1]) != TAVIK_OK) {
        fprintf(stderr, "consumer: cannot load %s: %s\n", argv[1], tavik_last_error());
        return 1;
    }
    const int32_t rc = tavik_identify(
        "The children walked home from school through the snow, talking about the old "
        "house at the end of their street and the stories everyone told about it.");
    const char *best = tavik_best_code();
    printf("%d %s\n", (int)rc, best != NULL ? best : "-");
    tavik_free_profile();
    return rc == TAVIK_OK ? 0 : 1;
}
