// void qarn_regcall(const void* fn, const RegBlock* in, RegBlock* out, void* stack_top)
//
// Every register loaded from `in`, the export called on the test's own stack,
// every register stored to `out`.  On Linux the arguments arrive in rdi, rsi, rdx,
// rcx; on Windows x64 (MinGW) in rcx, rdx, r8, r9, and as an ordinary Windows
// function it first saves what its own caller expects kept (rdi, rsi, xmm6-xmm15
// besides rbx, rbp, r12-r15) and restores it on the way out.
//
// stack_top is 16-byte aligned.  Layout below it:
//   top-8 host rsp, top-16 out, top-24 fn, top-32 pad,
//   [top-32-256, top-32) the caller's area (must stay untouched),
//   32 bytes of home area, then the return address pushed by the call.
        .text
        .globl  qarn_regcall
#ifdef _WIN32
        .def    qarn_regcall; .scl 2; .type 32; .endef
#else
        .type   qarn_regcall, @function
#endif
qarn_regcall:
        push    %rbp
        mov     %rsp, %rbp
        push    %rbx
        push    %r12
        push    %r13
        push    %r14
        push    %r15
#ifdef _WIN32
        push    %rdi
        push    %rsi
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
        mov     %rcx, %rdi              // the System V argument registers from here on
        mov     %rdx, %rsi
        mov     %r8, %rdx
        mov     %r9, %rcx
#endif
        mov     %rsp, -8(%rcx)
        mov     %rdx, -16(%rcx)
        mov     %rdi, -24(%rcx)
        lea     -320(%rcx), %rsp

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

        mov     312(%rsp), %rsp         // host rsp (top-8)
#ifdef _WIN32
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
        pop     %rsi
        pop     %rdi
#endif
        pop     %r15
        pop     %r14
        pop     %r13
        pop     %r12
        pop     %rbx
        pop     %rbp
        vzeroupper
        ret
#ifndef _WIN32
        .size   qarn_regcall, .-qarn_regcall
        .section .note.GNU-stack,"",@progbits
#endif
