/* Links the icon's PNG pictures (drawn by tools/icon at build time) into read-only data. */
    .section .rodata
    .balign 16
#define PICTURE(name, path) \
    .globl name; name: .incbin path; .globl name##_end; name##_end: .byte 0; .balign 16
PICTURE(tq734_icon_png_16, TQ_ICON_PNG_16)
PICTURE(tq734_icon_png_32, TQ_ICON_PNG_32)
PICTURE(tq734_icon_png_40, TQ_ICON_PNG_40)
PICTURE(tq734_icon_png_48, TQ_ICON_PNG_48)
PICTURE(tq734_icon_png_256, TQ_ICON_PNG_256)
    .section .note.GNU-stack,"",@progbits
