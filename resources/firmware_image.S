/* The firmware image, taken byte for byte from the checked copy that the build names in
   VXT_FIRMWARE_IMAGE_FILE. */
        .section .rodata.vxt_firmware_image, "a"
        .balign 16
        .globl  vxt_firmware_image_data
        .hidden vxt_firmware_image_data
        .type   vxt_firmware_image_data, @object
vxt_firmware_image_data:
        .incbin VXT_FIRMWARE_IMAGE_FILE
.Lvxt_firmware_image_end:
        .size   vxt_firmware_image_data, .Lvxt_firmware_image_end - vxt_firmware_image_data

        .balign 4
        .globl  vxt_firmware_image_size
        .hidden vxt_firmware_image_size
        .type   vxt_firmware_image_size, @object
vxt_firmware_image_size:
        .long   .Lvxt_firmware_image_end - vxt_firmware_image_data
        .size   vxt_firmware_image_size, 4

        .section .note.GNU-stack, "", @progbits
