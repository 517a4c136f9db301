/*
 * An example device firmware for the panel: bare-metal C for the lm3s6965evb
 * board as QEMU emulates it (a Cortex-M3 running at 12.5 MHz after reset).
 * UART0 is the panel line, 9600 baud, 8 data bits, no parity, one stop bit.
 *
 * It draws a title and a small menu, asks the panel for its keys every 50 ms
 * and reacts to them: up and down move the selection, right opens an entry,
 * left goes back; on the counter and step screens up and down change the
 * number.
 *
 * How it talks to the panel, as a real device must:
 *  - everything goes in blocks of frames, at most 120 bytes, the last frame
 *    of a block marked with bit 7 of its function code;
 *  - the panel answers every block with one reply; the firmware waits at
 *    most 500 ms for it and sends the block again when none came, and when
 *    the reply's status has an error bit (a few times: a frame the panel
 *    refuses is not mended by sending it again);
 *  - the status of every reply goes through the key handling, so a key
 *    pressed while a screen is being drawn is not lost.
 */
#include <stdint.h>

#define REG32(address) (*(volatile uint32_t*)(address))

/* System control: the clocks of UART0 and of GPIO port A. */
#define SYSCTL_RCGC1 REG32(0x400FE104u)
#define SYSCTL_RCGC2 REG32(0x400FE108u)
/* GPIO port A: pins 0 and 1 are UART0's receive and transmit lines. */
#define GPIOA_AFSEL REG32(0x40004420u)
#define GPIOA_DEN REG32(0x4000451Cu)
/* UART0, a PL011. */
#define UART0_DR REG32(0x4000C000u)
#define UART0_FR REG32(0x4000C018u)
#define UART0_IBRD REG32(0x4000C024u)
#define UART0_FBRD REG32(0x4000C028u)
#define UART0_LCRH REG32(0x4000C02Cu)
#define UART0_CR REG32(0x4000C030u)
#define UART_FR_RXFE (1u << 4)
#define UART_FR_TXFF (1u << 5)
#define UART_DR_ERRORS 0xF00u /* framing, parity, break, overrun */
#define UART_LCRH_8N1_FIFO 0x70u
#define UART_CR_ENABLE 0x301u /* UART, transmitter and receiver on */
/* SysTick, on the processor clock. */
#define SYST_CSR REG32(0xE000E010u)
#define SYST_RVR REG32(0xE000E014u)
#define SYST_CVR REG32(0xE000E018u)
#define SYST_CSR_ON 0x7u /* enabled, interrupt, processor clock */

#define CLOCK_HZ 12500000u
/* 12.5 MHz / (16 x 9600) = 81.38: 81 and 0.38 x 64 = 24 sixty-fourths. */
#define BAUD_INTEGER 81u
#define BAUD_FRACTION 24u

/* The panel link. */
#define BLOCK_LIMIT 120u
#define LAST_FRAME 0x80u
#define WRITE_STRING 1u
#define READ_SWITCHES 5u
#define WRITE_FRAME_HEADER 9u
#define SHORT_STATUS 5u
#define LONG_STATUS 14u
#define STATUS_ERRORS 0x0Fu
#define KEY_RIGHT 1u
#define KEY_LEFT 2u
#define KEY_UP 4u
#define KEY_DOWN 8u
#define TEXT_INVERSE 0x40u
#define CLEAR_LINE 0x80u

#define REPLY_TIMEOUT_MS 500u
#define ERROR_RESENDS 3u
#define POLL_INTERVAL_MS 50u
/* A reply cut short: the rest of it is waited out before sending again. */
#define QUIET_MS 20u

static volatile uint32_t now_ms;

void SysTick_Handler(void)
{
    ++now_ms;
}

static int reached(uint32_t deadline)
{
    return (int32_t)(now_ms - deadline) >= 0;
}

/* Sleeps until the next interrupt: the tick comes every millisecond. */
static void idle(void)
{
    __asm volatile("wfi");
}

static void start_hardware(void)
{
    SYSCTL_RCGC1 |= 1u;
    SYSCTL_RCGC2 |= 1u;
    GPIOA_AFSEL |= 0x3u;
    GPIOA_DEN |= 0x3u;
    UART0_CR = 0;
    UART0_IBRD = BAUD_INTEGER;
    UART0_FBRD = BAUD_FRACTION;
    UART0_LCRH = UART_LCRH_8N1_FIFO;
    UART0_CR = UART_CR_ENABLE;
    SYST_RVR = CLOCK_HZ / 1000u - 1u;
    SYST_CVR = 0;
    SYST_CSR = SYST_CSR_ON;
}

static void uart_send(uint8_t byte)
{
    while (UART0_FR & UART_FR_TXFF) {
        idle();
    }
    UART0_DR = byte;
}

/* The next byte from the panel, -1 once the deadline has passed, -2 for a
 * byte the line spoilt. */
static int uart_receive(uint32_t deadline)
{
    for (;;) {
        if (!(UART0_FR & UART_FR_RXFE)) {
            const uint32_t data = UART0_DR;
            return (data & UART_DR_ERRORS) ? -2 : (int)(data & 0xFFu);
        }
        if (reached(deadline)) {
            return -1;
        }
        idle();
    }
}

/* Drops what the panel sent unasked (the reply to a silence); with quiet,
 * also waits until the line has been quiet that long. */
static void drop_input(uint32_t quiet)
{
    while (uart_receive(now_ms + quiet) != -1) {
    }
}

/* --- Keys -------------------------------------------------------------- */

/* The key the last reply carried, and a new press not yet acted upon. A
 * click is told from the next by a reply in between that carries no key. */
static uint8_t held_key;
static uint8_t pressed_key;

static void take_status(uint8_t status)
{
    const uint8_t key = status >> 4;
    if (key != 0 && held_key == 0) {
        pressed_key = key;
    }
    held_key = key;
}

/* --- Blocks and replies ------------------------------------------------ */

static uint8_t block[BLOCK_LIMIT];
static uint32_t block_length;
static uint32_t last_frame; /* where the block's last frame starts */
static uint32_t resends;
#ifdef SENDS_WITHOUT_WAITING
static uint32_t reply_owed;
#endif

/* The status byte of the panel's reply, or -1 when no whole, well-formed
 * reply came by the deadline. */
static int receive_reply(uint32_t deadline)
{
    const int code = uart_receive(deadline);
    if (code != SHORT_STATUS && code != LONG_STATUS) {
        return -1;
    }
    const int length = uart_receive(deadline);
    if (length != (code == SHORT_STATUS ? 1 : 9)) {
        return -1;
    }
    uint32_t sum = 1u + (uint32_t)code + (uint32_t)length;
    int status = -1;
    for (int i = 0; i < length; ++i) {
        const int byte = uart_receive(deadline);
        if (byte < 0) {
            return -1;
        }
        status = i == 0 ? byte : status;
        sum += (uint32_t)byte;
    }
    return uart_receive(deadline) == (int)(sum & 0xFFu) ? status : -1;
}

/* Sends the block until the panel has answered it without an error. */
static void send_block(void)
{
    if (block_length == 0) {
        return;
    }
    /* Mark the last frame: bit 7 of its code, which its checksum covers. */
    block[last_frame] |= LAST_FRAME;
    block[block_length - 1] = (uint8_t)(block[block_length - 1] + LAST_FRAME);
#ifdef SENDS_WITHOUT_WAITING
    /* The mistake this build makes on purpose: a block goes out before the
     * reply to the one before it has been read, which is read only then. A
     * panel that answers at once hides it; the panel's own timing does not.
     * The block that reads the keys waits for its own reply too. */
    for (uint32_t i = 0; i < block_length; ++i) {
        uart_send(block[i]);
    }
    for (uint32_t owed = reply_owed + ((block[0] & ~LAST_FRAME) == READ_SWITCHES); owed > 0; --owed) {
        const int status = receive_reply(now_ms + REPLY_TIMEOUT_MS);
        if (status >= 0) {
            take_status((uint8_t)status);
        }
    }
    reply_owed = (block[0] & ~LAST_FRAME) != READ_SWITCHES;
    block_length = 0;
    return;
#endif
    uint32_t errors = 0;
    for (uint32_t attempt = 0;; ++attempt) {
        drop_input(attempt == 0 ? 0 : QUIET_MS);
        for (uint32_t i = 0; i < block_length; ++i) {
            uart_send(block[i]);
        }
        const int status = receive_reply(now_ms + REPLY_TIMEOUT_MS);
        if (status >= 0) {
            take_status((uint8_t)status);
            if ((status & STATUS_ERRORS) == 0 || ++errors > ERROR_RESENDS) {
                break;
            }
        }
        ++resends;
    }
    block_length = 0;
}

/* Adds a frame to the block; a block that has no room left for it is sent
 * first. */
static void add_frame(uint8_t code, const uint8_t* data, uint32_t count)
{
    if (block_length + count + 3u > BLOCK_LIMIT) {
        send_block();
    }
    uint32_t sum = 1u + code + count;
    last_frame = block_length;
    block[block_length++] = code;
    block[block_length++] = (uint8_t)count;
    for (uint32_t i = 0; i < count; ++i) {
        block[block_length++] = data[i];
        sum += data[i];
    }
    block[block_length++] = (uint8_t)sum;
}

/* --- Drawing ----------------------------------------------------------- */

#define LINE_CHARACTERS 21u

static uint32_t text_length(const char* text)
{
    uint32_t length = 0;
    while (text[length] != '\0' && length < LINE_CHARACTERS) {
        ++length;
    }
    return length;
}

/* Clears the text's pages and writes it; size 0 is one page high, size 3
 * three. */
static void write_text(uint8_t column, uint8_t page, uint8_t size, uint8_t inverse, const char* text)
{
    uint8_t data[2 + LINE_CHARACTERS];
    const uint32_t length = text_length(text);
    data[0] = (uint8_t)(column | CLEAR_LINE);
    data[1] = (uint8_t)(page | size << 3 | inverse);
    for (uint32_t i = 0; i < length; ++i) {
        data[2 + i] = (uint8_t)text[i];
    }
    add_frame(WRITE_STRING, data, 2 + length);
}

/* Clears the display and draws the title in the header. */
static void write_header(const char* title)
{
    add_frame(WRITE_FRAME_HEADER, (const uint8_t*)title, text_length(title));
}

/* Writes the number in decimal so that it ends where the text now ends, at
 * width; returns where its first digit is. */
static char* put_number(char* text, uint32_t width, uint32_t number)
{
    uint32_t at = width;
    text[at] = '\0';
    do {
        text[--at] = (char)('0' + number % 10u);
        number /= 10u;
    } while (number != 0 && at > 0);
    return &text[at];
}

/* --- The screens ------------------------------------------------------- */

enum screen { MENU, COUNTER, STEP, ABOUT };
#define ENTRIES 3u
static const char* const entry_names[ENTRIES] = {"Counter", "Step", "About"};
static const enum screen entry_screens[ENTRIES] = {COUNTER, STEP, ABOUT};
static const uint32_t steps[] = {1, 2, 5, 10};
#define STEPS (sizeof steps / sizeof steps[0])
#define COUNTER_LIMIT 999u

static enum screen screen = MENU;
static uint32_t selected;
static uint32_t counter;
static uint32_t step_index;

/* A menu row: the name on the left, its value on the right. */
static void draw_entry(uint32_t entry)
{
    char row[LINE_CHARACTERS + 1];
    for (uint32_t i = 0; i < LINE_CHARACTERS; ++i) {
        row[i] = ' ';
    }
    for (uint32_t i = 0; entry_names[entry][i] != '\0'; ++i) {
        row[1 + i] = entry_names[entry][i];
    }
    row[LINE_CHARACTERS] = '\0';
    if (entry_screens[entry] == COUNTER) {
        put_number(row, LINE_CHARACTERS - 1, counter);
    } else if (entry_screens[entry] == STEP) {
        put_number(row, LINE_CHARACTERS - 1, steps[step_index]);
    }
    /* The number ended the row; a space after it keeps the bar of the
     * selected row as wide as the line. */
    row[LINE_CHARACTERS - 1] = ' ';
    write_text(0, (uint8_t)(2 + entry), 0, entry == selected ? TEXT_INVERSE : 0, row);
}

static void draw_value(void)
{
    char number[8];
    write_text(46, 3, 3, 0, put_number(number, 4, screen == COUNTER ? counter : steps[step_index]));
}

static void draw_screen(void)
{
    if (screen == MENU) {
        write_header("QEMU FIRMWARE");
        for (uint32_t entry = 0; entry < ENTRIES; ++entry) {
            draw_entry(entry);
        }
        write_text(0, 7, 0, 0, "right: open");
    } else if (screen == ABOUT) {
        char line[LINE_CHARACTERS + 1] = "Resends:     ";
        put_number(line, 13, resends);
        write_header("ABOUT");
        write_text(0, 2, 0, 0, "Example firmware");
        write_text(0, 3, 0, 0, "lm3s6965evb UART0");
        write_text(0, 5, 0, 0, line);
        write_text(0, 7, 0, 0, "left: back");
    } else {
        write_header(screen == COUNTER ? "COUNTER" : "STEP");
        draw_value();
        write_text(0, 7, 0, 0, "up/down, left: back");
    }
    send_block();
}

static void on_key(uint8_t key)
{
    if (screen == MENU) {
        const uint32_t was = selected;
        if (key == KEY_UP && selected > 0) {
            --selected;
        } else if (key == KEY_DOWN && selected + 1 < ENTRIES) {
            ++selected;
        } else if (key == KEY_RIGHT) {
            screen = entry_screens[selected];
            draw_screen();
            return;
        }
        if (selected != was) {
            draw_entry(was);
            draw_entry(selected);
            send_block();
        }
        return;
    }
    if (key == KEY_LEFT) {
        screen = MENU;
        draw_screen();
        return;
    }
    const int up = key == KEY_UP;
    if (screen == COUNTER && (key == KEY_UP || key == KEY_DOWN)) {
        const uint32_t step = steps[step_index];
        counter = up ? (counter + step > COUNTER_LIMIT ? COUNTER_LIMIT : counter + step)
                     : (counter < step ? 0 : counter - step);
    } else if (screen == STEP && (key == KEY_UP || key == KEY_DOWN)) {
        step_index =
            up ? (step_index + 1 < STEPS ? step_index + 1 : step_index) : (step_index > 0 ? step_index - 1 : 0);
    } else {
        return;
    }
    draw_value();
    send_block();
}

int main(void)
{
    start_hardware();
    draw_screen();
    uint32_t next_poll = now_ms;
    for (;;) {
        while (!reached(next_poll)) {
            idle();
        }
        next_poll = now_ms + POLL_INTERVAL_MS;
        const uint8_t unused = 0;
        add_frame(READ_SWITCHES, &unused, 1);
        send_block();
        while (pressed_key != 0) {
            const uint8_t key = pressed_key;
            pressed_key = 0;
            on_key(key);
        }
    }
}
