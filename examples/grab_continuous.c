/* grab_continuous: opens board 0 of system 0, loads a camera from its camera file and grabs
 * from it continuously into a buffer in board memory on a thread object of its own, until
 * a few frames have arrived; then stops the grab with imThrHalt and reports how it ended.
 *
 * Build:  gcc grab_continuous.c $(pkg-config --cflags --libs hlclib) -o grab_continuous
 * Run:    HLCINIPATH=<directory of halcyra.ini> DCFPATH=<directory of camera files> \
 *             ./grab_continuous <camera name>
 */
#define _POSIX_C_SOURCE 199309L /* nanosleep */

#include <hlclib.h>

#include <stdio.h>
#include <time.h>

#define WIDTH 640
#define HEIGHT 480
#define FRAMES 3

static int Fail(const char* what)
{
    char text[256];
    imAppGetError(IM_ERR_ITEM_TEXT, text);
    printf("%s failed: %s\n", what, text);
    return 1;
}

int main(int argc, char** argv)
{
    uint32_t device = 0, node, grabber = 0, camera = 0, frame = 0, sync = 0;
    unsigned char corner = 0, last = 0;
    int changes = 0, polls, status = 0;
    int32_t error;
    char text[128];

    if (argc != 2) {
        printf("usage: grab_continuous <camera name>\n");
        return 2;
    }
    if (imDevAlloc(0, 0, IM_DEV_INIT_HOST, IM_DEV_FPGA_LOAD, &device) == 0) return Fail("imDevAlloc");
    /* The node's own thread object serves the set-up and the reads; the grab runs on a
       thread object of the program's own, which imThrHalt then stops. */
    node = IM_THR_NODE(device);

    if (imCamAlloc(node, argv[1], IM_CAM_FILE, &camera) == 0) {
        status = Fail("imCamAlloc");
    } else if (imBufAlloc(device, WIDTH, HEIGHT, 1, IM_UBYTE, IM_LOC_BOARD, &frame) == 0) {
        status = Fail("imBufAlloc");
    } else if (imThrAlloc(device, 0, &grabber) == 0) {
        status = Fail("imThrAlloc");
    } else if (imSyncAlloc(grabber, &sync) == 0) {
        status = Fail("imSyncAlloc");
    } else {
        /* The sync object keeps its state, so that the program can read it at any time. */
        imSyncControl(grabber, sync, IM_SYNC_MODE, IM_OSB_MODE_KEEP);
        /* A count of -1: frame after frame until the thread object is halted. */
        imDigGrab(grabber, 0, camera, frame, (uint32_t)-1, 0, sync);
        printf("grabbing: state %d\n", (int)imSyncHost(grabber, sync, IM_OSB_STARTED));

        /* Each new frame of the simulated camera's test pattern starts from another value.
           The program looks at the buffer every millisecond, for at most 5 s. */
        imBufGet2d(device, frame, 0, 0, 1, 1, &last);
        for (polls = 0; changes < FRAMES && polls < 5000; ++polls) {
            const struct timespec pause = {0, 1000000};
            nanosleep(&pause, NULL);
            imBufGet2d(device, frame, 0, 0, 1, 1, &corner);
            if (corner != last) ++changes;
            last = corner;
        }
        printf("frames seen: %d\n", changes);

        imThrHalt(grabber, IM_HALT_NOW);
        printf("halted: state %d\n", (int)imSyncHost(grabber, sync, IM_OSB_DONE));
        /* A halted grab ends without an error of its own. */
        error = imThrGetError(grabber, IM_ERR_ITEM_MESSAGE | IM_ERR_ITEM_CLEAR, text);
        printf("grab error: %d\n", (int)error);
        if (error) printf("%s\n", text);
        if (changes < FRAMES) status = 1;
    }

    if (sync) imSyncFree(grabber, sync);
    if (grabber) imThrFree(grabber);
    if (frame) imBufFree(device, frame);
    if (camera) imCamFree(node, camera);
    printf("close: %d\n", (int)imDevFree(device));
    return status;
}
