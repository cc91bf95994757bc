/* Opens a node, starts a continuous grab on a thread object of its own and returns from
 * main with everything still open: the node's threads may run while the program ends. */
#include <hlclib.h>

#include <stdio.h>

int main(void)
{
    uint32_t device = 0, thread = 0, camera = 0, frame = 0, sync = 0;
    if (imDevAlloc(0, 0, 0, 0, &device) == 0 || imThrAlloc(device, 0, &thread) == 0 ||
        imCamAlloc(thread, "camera640", 1, &camera) == 0 || imBufAlloc(device, 640, 480, 1, 8, 1, &frame) == 0 ||
        imSyncAlloc(thread, &sync) == 0) {
        printf("set-up failed: %d\n", (int)imAppGetError(0, NULL));
        return 1;
    }
    imDigGrab(thread, 0, camera, frame, 0xFFFFFFFFu, 0, sync);
    /* Returns once the grab has started. */
    printf("state %d\n", (int)imSyncHost(thread, sync, 40));
    return 0;
}
