/* Links resources/firmware.bin into read-only data as tq734_firmware_image. */
#if defined(_WIN32)
    .section .rdata,"dr"
#else
    .section .rodata
#endif
    .balign 16
    .globl tq734_firmware_image
tq734_firmware_image:
    .incbin TQ_FIRMWARE_IMAGE_PATH
tq734_firmware_image_end:
    /* The build must not go on with an image of any other length. */
    .if (tq734_firmware_image_end - tq734_firmware_image) - 314912
    .error "the firmware image must be exactly 314912 bytes"
    .endif
#if !defined(_WIN32)
    .section .note.GNU-stack,"",@progbits
#endif
