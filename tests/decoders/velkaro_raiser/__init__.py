'''
A decoder for Velkaro's tests: it annotates each change of one channel and
raises where the other rises, so that a test sees a decoder fail and the
decoding go on after it.
'''

from .pd import Decoder
