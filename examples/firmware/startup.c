/*
 * Start-up code for the example firmware: the vector table at address 0 and
 * the reset handler, which sets up memory as C expects it (the initialised
 * data copied from flash, the rest zeroed) before calling main. No C
 * library: the loops below are plain loops, and the build keeps the compiler
 * from turning them into calls of memcpy and memset.
 */
#include <stdint.h>

/* Set by the linker script. */
extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;

int main(void);
void SysTick_Handler(void);

void Reset_Handler(void)
{
    const uint32_t* from = &_sidata;
    for (uint32_t* to = &_sdata; to < &_edata;) {
        *to++ = *from++;
    }
    for (uint32_t* to = &_sbss; to < &_ebss;) {
        *to++ = 0;
    }
    main();
    for (;;) {
        __asm volatile("wfi");
    }
}

/* A fault or an interrupt nobody expects: stop here, where a debugger sees
 * it. */
void Default_Handler(void)
{
    for (;;) {
    }
}

/* The stack's top, then the handlers of the Cortex-M3's own exceptions. */
__attribute__((section(".vectors"), used)) static const uintptr_t vectors[16] = {
    (uintptr_t)&_estack,
    (uintptr_t)Reset_Handler,
    (uintptr_t)Default_Handler, /* NMI */
    (uintptr_t)Default_Handler, /* hard fault */
    (uintptr_t)Default_Handler, /* memory management */
    (uintptr_t)Default_Handler, /* bus fault */
    (uintptr_t)Default_Handler, /* usage fault */
    0,
    0,
    0,
    0,
    (uintptr_t)Default_Handler, /* SVCall */
    (uintptr_t)Default_Handler, /* debug monitor */
    0,
    (uintptr_t)Default_Handler, /* PendSV */
    (uintptr_t)SysTick_Handler,
};
