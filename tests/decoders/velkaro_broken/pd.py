import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'velkaro_broken'
    name = 'Broken'
    longname = 'Velkaro test: does not load'
    desc = 'Lacks the reset() that the library asks for.'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    channels = ()
    annotations = ()
