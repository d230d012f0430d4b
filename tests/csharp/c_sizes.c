/* Prints the sizes of the structures that the C# binding lays out itself. */
#include <stdio.h>

#include "chirolink_calibration.h"
#include "chirolink_glove.h"

int main(void) {
    printf("%zu %zu %zu\n", sizeof(chirolink_frame), sizeof(chirolink_status),
           sizeof(chirolink_calibration));
    return 0;
}
