"""Keys pressed in the window reach the host as the right bytes, each with
bit 7 set."""
import unittest

from harness import OneRunTestCase


class Keyboard(OneRunTestCase):
    def press(self, key, expected):
        s = self.session
        s.key(key)
        self.assertEqual(s.host_read_exact(len(expected)).hex(' '), expected.hex(' '), key)
        self.assertEqual(s.host_read_available(0.3), b'', f'{key}: more than expected')

    def test_mapped_keys_send_their_marked_sequences(self):
        self.press('Up', b'\x9b\xbf\xf4')
        self.press('shift+Up', b'\x9b\xd0')
        self.press('Down', b'\x9b\xbf\xf0')
        self.press('Left', b'\x9b\xc4')
        self.press('Delete', b'\xff')
        self.press('shift+Delete', b'\x9b\xbf\xf5')
        self.press('Prior', b'\x9b\xd1')
        self.press('shift+Next', b'\x9b\xbf\xee')

    def test_keypad_keys_send_sequences_not_digits(self):
        self.press('KP_5', b'\x9b\xbf\xf5')
        self.press('KP_Add', b'\x9b\xbf\xcd')
        self.press('KP_Divide', b'\x9b\xd0')

    def test_characters_go_out_with_bit_7(self):
        self.press('a', b'\xe1')
        self.press('shift+a', b'\xc1')
        self.press('ctrl+j', b'\x8a')
        self.press('Return', b'\x8d')
        self.press('BackSpace', b'\x88')
        self.press('Tab', b'\x89')
        self.press('Escape', b'\x9b')


if __name__ == '__main__':
    unittest.main()
