/* open_node: opens board 0 of system 0, reports what the library knows about it and about
 * the installed systems, shows how an error reaches the error hook and the last-error
 * record, and closes the board again.  It ends with 1 when an error is left in the record.
 *
 * Build:  gcc open_node.c $(pkg-config --cflags --libs hlclib) -o open_node
 * Run:    HLCINIPATH=<directory of halcyra.ini> ./open_node
 *
 * The installed halcyra.ini names the grab module's FPGA file beside it (hlcgrab1.res),
 * which the open loads; IM_DEV_INIT_HOST: the host serves the board, IM_DEV_FPGA_LOAD:
 * the FPGA is loaded whether or not it is configured already.
 */
#include <hlclib.h>

#include <stdio.h>

/* The error hook: the library calls it with the code of each new error. */
static int32_t OnError(int32_t hookType, int32_t errorCode, uint32_t user)
{
    printf("hook: type %d, error %d, user %u\n", (int)hookType, (int)errorCode, (unsigned)user);
    return 0;
}

int main(void)
{
    uint32_t device = 0;
    uint32_t value = 0;
    char text[256];

    imAppCatchError(0, OnError, 7);

    printf("systems: %d\n", (int)imSysInquire(0, 4, NULL));
    printf("nodes: %d\n", (int)imSysInquire(0, 1, NULL));
    printf("digitizers: %d\n", (int)imSysInquire(0, 2, NULL));
    printf("displays: %d\n", (int)imSysInquire(0, 3, NULL));

    if (imDevAlloc(0, 0, IM_DEV_INIT_HOST, IM_DEV_FPGA_LOAD, &device) == 0) {
        imAppGetError(12, text);
        printf("open failed: %s\n", text);
        return 1;
    }
    printf("device: 0x%08x\n", (unsigned)device);
    /* An open that gives an id can still report an error beside it (an FPGA file that
       could not be loaded, a board processor left aside): the node is usable anyway. */
    if (imAppGetError(0, NULL) != 0) {
        imAppGetError(12 | 1, text);
        printf("%s\n", text);
    }
    printf("node: 0x%02x\n", (unsigned)((device >> 16) & 0xFF));
    printf("system: %u\n", (unsigned)imDevInquire(device, 9, NULL));
    printf("board: %u\n", (unsigned)imDevInquire(device, 10, NULL));
    imDevInquire(device, 11, &value);
    printf("ring slots: %u\n", (unsigned)value);

    /* A device id that names no open node: the hook is called and the record keeps it. */
    imDevInquire(0x00FF0000u, 1, &value);
    printf("error code: %d\n", (int)imAppGetError(0, NULL));
    imAppGetError(12 | 1, text); /* the text, then the record is cleared */
    printf("%s\n", text);
    printf("after clearing: %d\n", (int)imAppGetError(0, NULL));

    printf("close: %d\n", (int)imDevFree(device));
    /* Nothing the program did not expect may be left in the record. */
    printf("errors left: %d\n", (int)imAppGetError(0, NULL));
    return imAppGetError(0, NULL) == 0 ? 0 : 1;
}
