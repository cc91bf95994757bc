/* Opens a node, grabs one frame on a thread object of its own, frees every object and the
 * node and returns from main at once. */
#include <hlclib.h>

#include <stdio.h>

int main(void)
{
    uint32_t device = 0, thread = 0, camera = 0, frame = 0, sync = 0;
    int32_t state = 0, closed;
    if (imDevAlloc(0, 0, 0, 0, &device) == 0 || imThrAlloc(device, 0, &thread) == 0 ||
        imCamAlloc(thread, "camera640", 1, &camera) == 0 || imBufAlloc(device, 640, 480, 1, 8, 1, &frame) == 0 ||
        imSyncAlloc(thread, &sync) == 0) {
        printf("set-up failed: %d\n", (int)imAppGetError(0, NULL));
        return 1;
    }
    imSyncControl(thread, sync, 18001, 2.0);
    imDigGrab(thread, 0, camera, frame, 1, 0, sync);
    state = imSyncHost(thread, sync, 50);
    imSyncFree(thread, sync);
    imBufFree(device, frame);
    imCamFree(thread, camera);
    imThrFree(thread);
    closed = imDevFree(device);
    printf("state %d, close %d\n", (int)state, (int)closed);
    return state == 50 && closed == 0 ? 0 : 1;
}
