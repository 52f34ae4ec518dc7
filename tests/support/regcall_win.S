// The register-level caller for Windows x64 (MinGW):
// void qarn_regcall(const void* fn, const RegBlock* in, RegBlock* out, void* stack_top)
// with fn in rcx, in in rdx, out in r8, stack_top in r9.
//
// The same call as regcall.S: every register loaded from `in`, the export called on
// the test's own stack, every register stored to `out`.  As an ordinary Windows
// function it first saves what its own caller expects kept (rbx, rbp, rdi, rsi,
// r12-r15, xmm6-xmm15) and restores it on the way out.
//
// stack_top is 16-byte aligned.  Layout below it:
//   top-8 host rsp, top-16 out, top-24 fn, top-32 pad,
//   [top-32-256, top-32) the caller's area (must stay untouched),
//   32 bytes of home area, then the return address pushed by the call.
        .text
        .globl  qarn_regcall
        .def    qarn_regcall; .scl 2; .type 32; .endef
qarn_regcall:
        push    %rbp
        mov     %rsp, %rbp
        push    %rbx
        push    %rdi
        push    %rsi
        push    %r12
        push    %r13
        push    %r14
        push    %r15
        sub     $168, %rsp              // 16-byte aligned: ten xmm saves
        vmovdqu %xmm6,    0(%rsp)
        vmovdqu %xmm7,   16(%rsp)
        vmovdqu %xmm8,   32(%rsp)
        vmovdqu %xmm9,   48(%rsp)
        vmovdqu %xmm10,  64(%rsp)
        vmovdqu %xmm11,  80(%rsp)
        vmovdqu %xmm12,  96(%rsp)
        vmovdqu %xmm13, 112(%rsp)
        vmovdqu %xmm14, 128(%rsp)
        vmovdqu %xmm15, 144(%rsp)
        mov     %rsp, -8(%r9)
        mov     %r8, -16(%r9)
        mov     %rcx, -24(%r9)
        mov     %rdx, %rsi
        lea     -320(%r9), %rsp

        vmovdqu   0(%rsi), %ymm0
        vmovdqu  32(%rsi), %ymm1
        vmovdqu  64(%rsi), %ymm2
        vmovdqu  96(%rsi), %ymm3
        vmovdqu 128(%rsi), %ymm4
        vmovdqu 160(%rsi), %ymm5
        vmovdqu 192(%rsi), %ymm6
        vmovdqu 224(%rsi), %ymm7
        vmovdqu 256(%rsi), %ymm8
        vmovdqu 288(%rsi), %ymm9
        vmovdqu 320(%rsi), %ymm10
        vmovdqu 352(%rsi), %ymm11
        vmovdqu 384(%rsi), %ymm12
        vmovdqu 416(%rsi), %ymm13
        vmovdqu 448(%rsi), %ymm14
        vmovdqu 480(%rsi), %ymm15
        ldmxcsr 640(%rsi)
        mov     512(%rsi), %rax
        mov     520(%rsi), %rcx
        mov     528(%rsi), %rdx
        mov     536(%rsi), %rbx
        mov     552(%rsi), %rbp
        mov     568(%rsi), %rdi
        mov     576(%rsi), %r8
        mov     584(%rsi), %r9
        mov     592(%rsi), %r10
        mov     600(%rsi), %r11
        mov     608(%rsi), %r12
        mov     616(%rsi), %r13
        mov     624(%rsi), %r14
        mov     632(%rsi), %r15
        mov     560(%rsi), %rsi

        call    *296(%rsp)

        push    %rax
        mov     312(%rsp), %rax         // out (top-16), one push below
        mov     %rcx, 520(%rax)
        mov     %rdx, 528(%rax)
        mov     %rbx, 536(%rax)
        mov     %rbp, 552(%rax)
        mov     %rsi, 560(%rax)
        mov     %rdi, 568(%rax)
        mov     %r8, 576(%rax)
        mov     %r9, 584(%rax)
        mov     %r10, 592(%rax)
        mov     %r11, 600(%rax)
        mov     %r12, 608(%rax)
        mov     %r13, 616(%rax)
        mov     %r14, 624(%rax)
        mov     %r15, 632(%rax)
        pop     %rcx
        mov     %rcx, 512(%rax)
        mov     %rsp, 544(%rax)
        stmxcsr 640(%rax)
        vmovdqu %ymm0,   0(%rax)
        vmovdqu %ymm1,  32(%rax)
        vmovdqu %ymm2,  64(%rax)
        vmovdqu %ymm3,  96(%rax)
        vmovdqu %ymm4, 128(%rax)
        vmovdqu %ymm5, 160(%rax)
        vmovdqu %ymm6, 192(%rax)
        vmovdqu %ymm7, 224(%rax)
        vmovdqu %ymm8, 256(%rax)
        vmovdqu %ymm9, 288(%rax)
        vmovdqu %ymm10, 320(%rax)
        vmovdqu %ymm11, 352(%rax)
        vmovdqu %ymm12, 384(%rax)
        vmovdqu %ymm13, 416(%rax)
        vmovdqu %ymm14, 448(%rax)
        vmovdqu %ymm15, 480(%rax)

        mov     312(%rsp), %rsp         // host rsp (top-8): the xmm save area
        vmovdqu   0(%rsp), %xmm6
        vmovdqu  16(%rsp), %xmm7
        vmovdqu  32(%rsp), %xmm8
        vmovdqu  48(%rsp), %xmm9
        vmovdqu  64(%rsp), %xmm10
        vmovdqu  80(%rsp), %xmm11
        vmovdqu  96(%rsp), %xmm12
        vmovdqu 112(%rsp), %xmm13
        vmovdqu 128(%rsp), %xmm14
        vmovdqu 144(%rsp), %xmm15
        add     $168, %rsp
        pop     %r15
        pop     %r14
        pop     %r13
        pop     %r12
        pop     %rsi
        pop     %rdi
        pop     %rbx
        pop     %rbp
        vzeroupper
        ret
