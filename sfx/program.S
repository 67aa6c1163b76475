/* The extractor program, carried inside the module as bytes. */
#if defined(__ELF__)
        .section .rodata
#else
        .section .rdata,"dr"
#endif
        .balign 16
#if defined(_WIN32) && !defined(_WIN64)
        .globl _hedgerow_sfx_program
        .globl _hedgerow_sfx_program_end
_hedgerow_sfx_program:
        .incbin HEDGEROW_SFX_PROGRAM
_hedgerow_sfx_program_end:
#else
        .globl hedgerow_sfx_program
        .globl hedgerow_sfx_program_end
#  if defined(__ELF__)
        .hidden hedgerow_sfx_program
        .hidden hedgerow_sfx_program_end
#  endif
hedgerow_sfx_program:
        .incbin HEDGEROW_SFX_PROGRAM
hedgerow_sfx_program_end:
#endif
#if defined(__ELF__)
        .section .note.GNU-stack,"",%progbits
#endif
