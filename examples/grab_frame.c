/* grab_frame: opens board 0 of system 0, loads a camera from its camera file, grabs one
 * frame into a buffer in host memory and saves the frame as a TIFF file.
 *
 * Build:  gcc grab_frame.c $(pkg-config --cflags --libs hlclib) -o grab_frame
 * Run:    HLCINIPATH=<directory of halcyra.ini> DCFPATH=<directory of camera files> \
 *             ./grab_frame <camera name> <output.tif>
 */
#include <hlclib.h>

#include <stdio.h>

#define WIDTH 640
#define HEIGHT 480
/* Buffer location 3: host DMA memory.  The board grabs the frame block by block and copies
   each block into it. */
#define HOST_DMA_MEMORY 3

/* The node's own thread object: commands sent to it run on the board's node. */
#define NODE_THREAD(device) (0x40000010u | ((device) & 0x00FF0000u))

static int Fail(const char* what)
{
    char text[256];
    imAppGetError(12, text);
    printf("%s failed: %s\n", what, text);
    return 1;
}

int main(int argc, char** argv)
{
    uint32_t device = 0, thread, camera = 0, frame = 0, sync = 0;
    int32_t state;
    unsigned char corner[4];
    int status = 0;

    if (argc != 3) {
        printf("usage: grab_frame <camera name> <output.tif>\n");
        return 2;
    }
    if (imDevAlloc(0, 0, IM_DEV_INIT_HOST, IM_DEV_FPGA_LOAD, &device) == 0) return Fail("imDevAlloc");
    thread = NODE_THREAD(device);

    if (imCamAlloc(thread, argv[1], 1, &camera) == 0) {
        status = Fail("imCamAlloc");
    } else if (imBufAlloc(device, WIDTH, HEIGHT, 1, 8, HOST_DMA_MEMORY, &frame) == 0) {
        status = Fail("imBufAlloc");
    } else if (imSyncAlloc(thread, &sync) == 0) {
        status = Fail("imSyncAlloc");
    } else {
        /* The sync object keeps state 50 once the grab is done, so the wait reports it. */
        imSyncControl(thread, sync, 18001, 2.0);
        /* One frame: digitizer 0 (the node's own), the camera, the destination, a count of
           1, no grab control buffer; the sync object follows the grab. */
        imDigGrab(thread, 0, camera, frame, 1, 0, sync);
        state = imSyncHost(thread, sync, 50);
        if (state != 50 || imThrGetError(thread, 1, NULL) != 0) {
            status = Fail("imDigGrab");
        } else {
            imBufGet2d(device, frame, 0, 0, 2, 2, corner);
            printf("grabbed %dx%d, top left %u %u / %u %u\n", WIDTH, HEIGHT, corner[0], corner[1], corner[2],
                   corner[3]);
            /* Format 2: a TIFF file. */
            if (imBufSave(device, argv[2], 2, frame) != 0) status = Fail("imBufSave");
            else printf("saved %s\n", argv[2]);
        }
    }

    if (sync) imSyncFree(thread, sync);
    if (frame) imBufFree(device, frame);
    if (camera) imCamFree(thread, camera);
    printf("close: %d\n", (int)imDevFree(device));
    return status;
}
